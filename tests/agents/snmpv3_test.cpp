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
      "createUser cisco-user SHA \"auth-secret-4\" AES-256-C \"priv-secret-4\"",
      "rouser locked-user priv", "rouser cisco-user priv", "rouser private-user priv",
      "rouser signed-user auth", "rouser open-user noauth",
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

  // Whether exactly these devices delivered, in any order (their keys come at different
  // times).
  ::testing::AssertionResult delivered(const std::vector<std::string>& addresses) const {
    std::string wanted;
    std::size_t length = 0;
    for (const auto& address : addresses) {
      const std::string expected = heartbeat(address);
      length += expected.size();
      if (printed.str().find(expected) == std::string::npos) wanted += " " + address;
    }
    if (wanted.empty() && length == printed.str().size()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "missing:" << wanted << "\n"
                                         << printed.str() << log.text();
  }

  static std::string heartbeat(const std::string& address) {
    return Polling::heartbeat(
        address,
        address + " tamro-test-device wide=5000000000 object=.1.3.6.1.4.1.8072.3.2.10 empty=[]\n");
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

  EXPECT_TRUE(delivered({"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
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
  EXPECT_TRUE(delivered({"10.0.0.1", "10.0.0.4"}));
}

// A device that restarted with its persistent state has the same engine, a higher boot count
// and a clock from zero: its answer to the first request says so, and the request is sent
// again with its new time in the same cycle. A time-out keeps the session and its engine.
TEST_F(SnmpV3, ARestartedDeviceDeliversInTheSameCycle) {
  device_settings settings = v3("10.0.0.1", "private-user", snmp::security_level::auth_priv,
                                "auth-secret-1", "priv-secret-1");
  settings.timeout = 1;
  add(settings);
  const auto cycle = [&] {
    printed.str("");
    pollers[0]->start_heartbeat();
    run_until_idle();
  };
  cycle();
  ASSERT_TRUE(delivered({"10.0.0.1"}));

  device.restart();
  cycle();
  EXPECT_TRUE(delivered({"10.0.0.1"}));
  EXPECT_TRUE(log.has('D', device.peer() + " - SNMP engine time resynchronized")) << log.text();
  EXPECT_EQ(log.count('E'), 0) << log.text();

  device.stop();
  cycle();
  EXPECT_TRUE(log.has('E', "10.0.0.1 - SNMP response error: Timeout"));
  device.restart();
  cycle();
  EXPECT_TRUE(delivered({"10.0.0.1"}));
}

// A device whose engine ID changed (replaced, or reset without its state) names the new one
// in its report; the next cycle uses it.
TEST_F(SnmpV3, AChangedEngineIdIsTakenFromTheReport) {
  add(v3("10.0.0.1", "private-user", snmp::security_level::auth_priv, "auth-secret-1",
         "priv-secret-1"));
  for (const bool reset : {false, true, false}) {
    if (reset) device.reset();
    printed.str("");
    pollers[0]->start_heartbeat();
    run_until_idle();
    EXPECT_TRUE(
        delivered(reset ? std::vector<std::string>{} : std::vector<std::string>{"10.0.0.1"}));
  }
  EXPECT_TRUE(log.has('E', "10.0.0.1 - SNMP response error: Unknown engine ID")) << log.text();
  EXPECT_TRUE(log.has_prefix('I', device.peer() + " - SNMPv3 engine ID changed from "))
      << log.text();
}

// AES-256 keys are extended from 128 bits in one of two ways; a device answers only the one
// it knows.
TEST_F(SnmpV3, AesKeysAreExtendedTheWayTheDeviceDoes) {
  device_settings settings = v3("10.0.0.1", "cisco-user", snmp::security_level::auth_priv,
                                "auth-secret-4", "priv-secret-4");
  settings.timeout = 1;  // a device that cannot decrypt a request does not answer it
  snmp_poller& poller = add(settings);
  for (const auto privacy : {snmp::privacy_protocol::aes256_cisco, snmp::privacy_protocol::aes256,
                             snmp::privacy_protocol::aes256_cisco}) {
    settings.usm.privacy = privacy;
    poller.reconfigure(settings);
    printed.str("");
    poller.start_heartbeat();
    run_until_idle();
    const bool cisco = privacy == snmp::privacy_protocol::aes256_cisco;
    EXPECT_TRUE(
        delivered(cisco ? std::vector<std::string>{"10.0.0.1"} : std::vector<std::string>{}));
  }
  EXPECT_TRUE(log.has_prefix('E', "10.0.0.1 - SNMP response error: ")) << log.text();
}

// Devices made from one image share an engine ID, and the library holds one key per engine
// and user: of two such devices with different keys only one can be polled. The other one is
// named once, beside the first; devices whose keys agree share the keys without a word.
TEST_F(SnmpV3, ClonedEnginesWithOtherKeysAreNamedOnce) {
  const auto clone = [&](const std::string& privacy) {
    test::snmpd_options options = users_and_values(dir.file("counter64.sh"));
    options.extra_lines.insert(
        options.extra_lines.end(),
        {"engineID tamro-clone",
         "createUser clone-user SHA \"auth-secret-5\" AES \"" + privacy + "\"",
         "rouser clone-user priv"});
    return options;
  };
  test::snmpd first(clone("priv-secret-5")), same_keys(clone("priv-secret-5")),
      other_keys(clone("priv-secret-6"));
  const auto add_clone = [&](const std::string& address, const test::snmpd& clone,
                             const std::string& privacy) {
    device_settings settings =
        v3(address, "clone-user", snmp::security_level::auth_priv, "auth-secret-5", privacy);
    settings.peer = clone.peer();
    settings.timeout = 1;
    add(settings);
  };
  add_clone("10.0.0.1", first, "priv-secret-5");
  add_clone("10.0.0.2", same_keys, "priv-secret-5");
  add_clone("10.0.0.3", other_keys, "priv-secret-6");
  for (int cycle = 0; cycle < 2; ++cycle) {
    for (const auto& poller : pollers) {
      poller->start_heartbeat();
      run_until_idle();
    }
  }
  EXPECT_EQ(log.count('W'), 1) << log.text();
  EXPECT_TRUE(log.has_prefix(
      'W', other_keys.peer() + " - same SNMPv3 engine ID 80001f880474616d726f2d636c6f6e65 as " +
               first.peer() + ", but other keys for user clone-user: "))
      << log.text();
  const std::string text = printed.str();
  const auto heartbeats = [&](const std::string& address) {
    int n = 0;
    for (auto at = text.find(heartbeat(address)); at != std::string::npos;
         at = text.find(heartbeat(address), at + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(heartbeats("10.0.0.1"), 2);
  EXPECT_EQ(heartbeats("10.0.0.2"), 2);
  EXPECT_EQ(heartbeats("10.0.0.3"), 0);
}

}  // namespace
}  // namespace tamro::agents
