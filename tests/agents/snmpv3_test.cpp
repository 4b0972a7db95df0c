// SNMPv3 devices and the value types of real agents, against snmpd.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "agents/snmp_poller.hpp"
#include "mapping/mappers/oid_variable.hpp"
#include "tests/agents/polling_fixture.hpp"
#include "tests/support/snmpd.hpp"

namespace tamro::agents {
namespace {

const std::string sys_name = ".1.3.6.1.2.1.1.5.0";
const std::string wide_counter = ".1.3.6.1.4.1.99999.64.1.0";
const std::string object_id = ".1.3.6.1.4.1.99999.64.2.0";
const std::string empty_text = ".1.3.6.1.4.1.99999.64.3.0";

test::snmpd_options users_and_values(const std::string& script) {
  test::write_file(script, "[ \"$1\" = -g ] && [ \"$2\" = " + wide_counter +
                               " ] && printf '%s\\ncounter64\\n5000000000\\n' \"$2\"\n");
  const auto script_name = test::child_path(script);  // as snmpd finds it
  test::snmpd_options options;
  options.extra_lines = {
      "createUser private-user SHA \"auth-secret-1\" AES \"priv-secret-1\"",
      "createUser signed-user SHA-256 \"auth-secret-2\"", "createUser open-user",
      "createUser locked-user SHA \"auth-secret-3\" AES \"priv-secret-3\"",
      "rouser locked-user priv", "rouser private-user priv", "rouser signed-user auth",
      "rouser open-user noauth",
      // override knows no Counter64: a pass script answers it.
      "pass " + wide_counter.substr(0, wide_counter.size() - 2) + " /bin/sh " + script_name,
      "override " + object_id + " object_id .1.3.6.1.4.1.8072.3.2.10",
      "override " + empty_text + " octet_str \"\""};
  return options;
}

std::shared_ptr<const mapping> values_mapping() {
  std::vector<std::shared_ptr<const mapper>> mappers;
  for (const auto& [name, oid] : {std::pair{"SYS_NAME", sys_name}, std::pair{"WIDE", wide_counter},
                                  std::pair{"OBJECT", object_id}, std::pair{"EMPTY", empty_text}})
    mappers.push_back(std::make_shared<mappers::oid_variable>(name, oid));
  return std::make_shared<const mapping>("values", std::move(mappers));
}

class SnmpV3 : public test_support::Polling {
 protected:
  SnmpV3()
      : Polling("{{IP_ADDRESS}} {{SYS_NAME}} wide={{WIDE}} object={{OBJECT}} empty=[{{EMPTY}}]\n"),
        device(users_and_values(dir.file("counter64.sh"))) {}

  device_settings v3(const std::string& address, const std::string& user,
                     snmp::security_level level, const std::string& auth = "",
                     const std::string& privacy = "") {
    device_settings settings = settings_for(address, device.peer());
    settings.version = 3;
    settings.mapping = values_mapping();
    settings.usm.security_name = user;
    settings.usm.level = level;
    settings.usm.auth_passphrase = auth;
    settings.usm.privacy_passphrase = privacy;
    return settings;
  }

  test::snmpd device;
};

TEST_F(SnmpV3, EachSecurityLevelDeliversAndAWrongKeyFailsOnlyItsDevice) {
  using level = snmp::security_level;
  // Unreachable first: its engine discovery must not hold up the others.
  device_settings silent =
      v3("10.0.0.9", "private-user", level::auth_priv, "auth-secret-1", "priv-secret-1");
  silent.peer = "127.0.0.1:" + std::to_string(test::free_port(SOCK_DGRAM));
  silent.timeout = 1;
  snmp_poller& unreachable = add(silent);
  add(v3("10.0.0.1", "private-user", level::auth_priv, "auth-secret-1", "priv-secret-1"));
  device_settings signed_user = v3("10.0.0.2", "signed-user", level::auth_no_priv, "auth-secret-2");
  signed_user.usm.auth = snmp::auth_protocol::sha256;
  add(signed_user);
  add(v3("10.0.0.3", "open-user", level::no_auth_no_priv));
  device_settings locked =
      v3("10.0.0.4", "locked-user", level::auth_priv, "wrong-secret", "priv-secret-3");
  add(locked);
  add(v3("10.0.0.5", "nobody", level::no_auth_no_priv));

  for (const auto& poller : pollers) poller->start_heartbeat();
  EXPECT_EQ(unreachable.phase(), cycle_phase::discovering)
      << "the engine is discovered without waiting";
  run_until_idle();

  const auto heartbeat = [](const std::string& address) {
    return Polling::heartbeat(
        address,
        address + " tamro-test-device wide=5000000000 object=.1.3.6.1.4.1.8072.3.2.10 empty=[]\n");
  };
  EXPECT_EQ(printed.str(), heartbeat("10.0.0.1") + heartbeat("10.0.0.2") + heartbeat("10.0.0.3"))
      << log.text();
  EXPECT_TRUE(log.has_prefix('E', "10.0.0.4 - SNMP response error: Authentication failure"))
      << log.text();
  EXPECT_TRUE(log.has_prefix('E', "10.0.0.5 - SNMP response error: Unknown user name"))
      << log.text();
  EXPECT_TRUE(log.has_prefix('E', "10.0.0.9 - SNMP response error: Timeout"));

  // The engine and the keys stay with the session: the next cycle needs no discovery. New
  // credentials (as a reload brings them) replace the keys the engine knew for the user.
  printed.str("");
  pollers[1]->start_heartbeat();
  locked.usm.auth_passphrase = "auth-secret-3";
  pollers[4]->reconfigure(locked);
  pollers[4]->start_heartbeat();
  run_until_idle();
  EXPECT_EQ(printed.str(), heartbeat("10.0.0.1") + heartbeat("10.0.0.4")) << log.text();
}

}  // namespace
}  // namespace tamro::agents
