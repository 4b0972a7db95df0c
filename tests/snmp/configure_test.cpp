#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "config/configuration_error.hpp"
#include "log/logger.hpp"
#include "log/sink.hpp"
#include "snmp/netsnmp/library.hpp"
#include "snmp/oid.hpp"
#include "snmp/settings.hpp"
#include "tests/snmp/library_setup.hpp"

namespace tamro {
namespace {

// Each test runs in a process of its own, so each starts with the library uninitialised.
class ConfigureSnmp : public ::testing::Test {
 protected:
  test::temp_dir dir;
  boost::property_tree::ptree section = test::snmp_section(dir);
};

TEST_F(ConfigureSnmp, TimeoutAndRetriesStayWhenAbsentOrNotIntegers) {
  EXPECT_EQ(snmp::global_settings().timeout, 5);
  EXPECT_EQ(snmp::global_settings().retries, 0);
  configure_snmp(section);
  EXPECT_EQ(snmp::global_settings().timeout, 5);
  EXPECT_EQ(snmp::global_settings().retries, 0);

  section.put("timeout", " 10 ");
  section.put("retries", "2");
  configure_snmp(section);
  EXPECT_EQ(snmp::global_settings().timeout, 10);
  EXPECT_EQ(snmp::global_settings().retries, 2);

  section.put("timeout", "5s");
  section.put("retries", "");
  configure_snmp(section);
  EXPECT_EQ(snmp::global_settings().timeout, 10);
  EXPECT_EQ(snmp::global_settings().retries, 2);

  section.erase("timeout");
  section.erase("retries");
  configure_snmp(section);
  EXPECT_EQ(snmp::global_settings().timeout, 10);
  EXPECT_EQ(snmp::global_settings().retries, 2);
}

TEST_F(ConfigureSnmp, TimeoutsTheLibraryCannotHoldAreRejected) {
  section.put("timeout", "2147");
  configure_snmp(section);
  EXPECT_EQ(snmp::global_settings().timeout, 2147);

  for (const char* bad : {"2148", "0", "-3", "99999999999999999999"}) {
    section.put("timeout", bad);
    try {
      configure_snmp(section);
      ADD_FAILURE() << bad << " accepted";
    } catch (const configuration_error& e) {
      EXPECT_EQ(std::string(e.what()),
                "snmp timeout " + std::string(bad) + " is out of range (1 to 2147 seconds)");
    }
  }
  EXPECT_EQ(snmp::global_settings().timeout, 2147);

  section.put("timeout", "3");
  section.put("retries", "-1");  // the library would read it as "its default of 5"
  EXPECT_THROW(configure_snmp(section), configuration_error);
  EXPECT_EQ(snmp::global_settings().timeout, 2147);
  EXPECT_EQ(snmp::global_settings().retries, 0);
}

TEST_F(ConfigureSnmp, MibsVariableListsModulesEachFollowedByTheSeparator) {
  const std::string separator = ENV_SEPARATOR;  // ";" on Windows, ":" here
  configure_snmp(section);
  EXPECT_EQ(std::getenv("MIBS"), separator);

  section.add("mibs.mib", "IF-MIB");
  section.add("mibs.other", "IGNORED-MIB");
  section.add("mibs.mib", "SNMPv2-MIB");
  configure_snmp(section);
  EXPECT_EQ(std::getenv("MIBS"), "IF-MIB" + separator + "SNMPv2-MIB" + separator);

  section.put_child("mibs", {});  // none: an empty value would unset it on Windows
  configure_snmp(section);
  EXPECT_EQ(std::getenv("MIBS"), separator);
}

TEST_F(ConfigureSnmp, ListedModulesAreLoadedFromTheMibDirectory) {
  test::write_file(dir.file("TAMRO-TEST-MIB.txt"),
                   "TAMRO-TEST-MIB DEFINITIONS ::= BEGIN\n"
                   "tamroTest OBJECT IDENTIFIER ::= { iso 3 6 1 4 1 99999 }\n"
                   "tamroValue OBJECT IDENTIFIER ::= { tamroTest 7 }\n"
                   "END\n");
  section.add("mibs.mib", "TAMRO-TEST-MIB");
  configure_snmp(section);
  EXPECT_NE(find_tree_node("tamroValue", -1), nullptr);  // loaded at start, not on demand
  EXPECT_EQ(snmp::oid_value("TAMRO-TEST-MIB::tamroValue.0").text(), ".1.3.6.1.4.1.99999.7.0");
}

TEST_F(ConfigureSnmp, LibraryStoreGetsFoldersAndNumericOutput) {
  section.put("mib-directory", dir.file("mibs"));
  configure_snmp(section);
  EXPECT_EQ(netsnmp_ds_get_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_OID_OUTPUT_FORMAT),
            NETSNMP_OID_OUTPUT_NUMERIC);
  EXPECT_STREQ(netsnmp_ds_get_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIBDIRS),
               dir.file("mibs").c_str());
  EXPECT_STREQ(netsnmp_ds_get_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_PERSISTENT_DIR),
               dir.file("persist").c_str());
  EXPECT_FALSE(netsnmp_ds_get_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS));

  section.erase("persistent-directory");
  EXPECT_THROW(configure_snmp(section), boost::property_tree::ptree_bad_path);
}

TEST_F(ConfigureSnmp, LibraryMessagesAreLoggedOnceAtDebugWithPrefix) {
  std::stringstream console;
  auto& sink = log::sink::global();
  sink.set_console_stream(console.rdbuf());
  set_console(true);
  set_threshold(log::debug);

  configure_snmp(section);
  configure_snmp(section);  // a reload must not add a second copy of each line
  console.str("");
  snmp_log(LOG_ERR, "something odd happened  \n");

  const std::string output = console.str();
  EXPECT_NE(output.find("[D] Net-SNMP: something odd happened\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("Net-SNMP"), output.rfind("Net-SNMP")) << output;
  set_console(false);
  sink.set_console_stream(std::cout.rdbuf());
}

}  // namespace
}  // namespace tamro
