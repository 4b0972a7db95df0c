#include <gtest/gtest.h>

#include <ctemplate/template.h>
#include <memory>
#include <set>
#include <string>

#include "mapping/mappers/const_variable.hpp"
#include "mapping/mappers/oid_variable.hpp"
#include "mapping/mapping.hpp"
#include "mapping/mapping_error.hpp"
#include "mapping/transformation.hpp"

namespace tamro {
namespace {

using mappers::const_variable;
using mappers::oid_variable;

// Expands one variable of a dictionary through a throw-away template.
std::string expand(const ctemplate::TemplateDictionary& dictionary, const std::string& variable) {
  const std::string key = "test-" + variable;
  ctemplate::StringToTemplateCache(key, "{{" + variable + "}}", ctemplate::DO_NOT_STRIP);
  std::string out;
  ctemplate::ExpandTemplate(key, ctemplate::DO_NOT_STRIP, &dictionary, &out);
  return out;
}

mapping make(std::vector<std::shared_ptr<const mapper>> list) {
  return mapping("test", std::move(list));
}

const snmp::oid_value_map response = {
    {".1.3.6.1.2.1.1.3.0", "12345"},
    {".1.3.6.1.2.1.1.5.0", "router-1"},
    {".1.3.6.1.2.1.2.2.1.6.2", "001A2B3C4D5E"},
    {".1.3.6.1.2.1.1.6.0", ""},
};

TEST(OidVariable, AddsLeadingDotOnceAndMatchesResponseKeys) {
  EXPECT_EQ(oid_variable("A", "1.3.6.1.2.1.1.5.0").oid(), ".1.3.6.1.2.1.1.5.0");
  EXPECT_EQ(oid_variable("A", ".1.3.6.1.2.1.1.5.0").oid(), ".1.3.6.1.2.1.1.5.0");
  EXPECT_EQ(oid_variable("A", "").oid(), "");

  std::string text;
  EXPECT_TRUE(oid_variable("A", "1.3.6.1.2.1.1.5.0").get_value(response, text));
  EXPECT_EQ(text, "router-1");
  for (const std::string other :
       {"1.3.6.1.2.1.1.5.0.", "1.3.6.1.2.1.1.05.0", "SNMPv2-MIB::sysName.0"}) {
    EXPECT_FALSE(oid_variable("A", other).get_value(response, text)) << other;
  }
  // An empty string is a value: many devices leave sysContact and sysLocation empty.
  EXPECT_TRUE(oid_variable("A", "1.3.6.1.2.1.1.6.0").get_value(response, text));
  EXPECT_EQ(text, "");
}

TEST(Mapping, SetsVariablesWithTransformationsAndSharesOids) {
  const auto m = make({
      std::make_shared<oid_variable>("SYS_NAME", "1.3.6.1.2.1.1.5.0"),
      std::make_shared<oid_variable>("HOST", ".1.3.6.1.2.1.1.5.0"),
      std::make_shared<oid_variable>("UPTIME", ".1.3.6.1.2.1.1.3.0",
                                     make_transformation("timeticks-to-seconds")),
      std::make_shared<oid_variable>("MAC", ".1.3.6.1.2.1.2.2.1.6.2",
                                     make_transformation("format-mac-address")),
      std::make_shared<const_variable>("KIND", "router"),
      std::make_shared<const_variable>("KIND", "switch"),  // the later one wins
      std::make_shared<const_variable>("TICKS", "12345",
                                       make_transformation("timeticks-to-seconds")),
  });
  std::set<std::string> oids;
  m.collect_oids(oids);
  EXPECT_EQ(oids, (std::set<std::string>{".1.3.6.1.2.1.1.3.0", ".1.3.6.1.2.1.1.5.0",
                                         ".1.3.6.1.2.1.2.2.1.6.2"}));

  ctemplate::TemplateDictionary dictionary("heartbeat");
  m.apply(response, dictionary);
  EXPECT_EQ(expand(dictionary, "SYS_NAME"), "router-1");
  EXPECT_EQ(expand(dictionary, "HOST"), "router-1");
  EXPECT_EQ(expand(dictionary, "UPTIME"), "123");
  EXPECT_EQ(expand(dictionary, "MAC"), "00:1A:2B:3C:4D:5E");
  EXPECT_EQ(expand(dictionary, "KIND"), "switch");
  EXPECT_EQ(expand(dictionary, "TICKS"), "123");
}

TEST(Mapping, MissingValueStopsTheListWithMappingError) {
  const auto m = make({std::make_shared<const_variable>("BEFORE", "set"),
                       std::make_shared<oid_variable>("SYS_CONTACT", ".1.3.6.1.2.1.1.4.0"),
                       std::make_shared<const_variable>("AFTER", "set")});
  ctemplate::TemplateDictionary dictionary("heartbeat");
  try {
    m.apply(response, dictionary);
    FAIL();
  } catch (const mapping_error& e) {
    EXPECT_STREQ(e.what(), "value for SYS_CONTACT not found in response");
  }
  EXPECT_EQ(expand(dictionary, "BEFORE"), "set");
  EXPECT_EQ(expand(dictionary, "AFTER"), "");
}

}  // namespace
}  // namespace tamro
