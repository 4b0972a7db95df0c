#include <gtest/gtest.h>

#include <ctemplate/template.h>

#include <boost/asio/io_context.hpp>
#include <boost/property_tree/ptree.hpp>
#include <memory>
#include <string>

#include "agents/snmp_poller.hpp"
#include "mapping/mappers/oid_variable.hpp"
#include "mapping/mapping_error.hpp"
#include "tests/agents/log_capture.hpp"

namespace tamro::agents {
namespace {

const char* const heartbeat_template =
    "ip={{IP_ADDRESS}} mac={{TAMRO_MAC_ADDRESS}} name={{SYS_NAME}}"
    "{{#STATISTICS}} stat:{{STAT_ID}}={{STAT_VALUE}}{{/STATISTICS}}"
    "{{#ALARMS}} alarm:{{ALARM_ID}}/{{ALARM_STATUS}}/{{ALARM_VALUE}}/{{ALARM_CDATA}}{{/ALARMS}}";

const std::string sys_name = ".1.3.6.1.2.1.1.5.0";
const std::string counter = ".1.3.6.1.2.1.2.1.0";

std::shared_ptr<const tamro::mapping> mapping_of(const std::string& variable,
                                                 const std::string& oid) {
  return std::make_shared<const tamro::mapping>(
      "test", std::vector<std::shared_ptr<const mapper>>{
                  std::make_shared<mappers::oid_variable>(variable, oid)});
}

class SnmpPoller : public ::testing::Test {
 protected:
  SnmpPoller() {
    ctemplate::StringToTemplateCache("poller-test", heartbeat_template, ctemplate::DO_NOT_STRIP);
    identity.mac_address = "00:1A:2B:3C:4D:5E";
    poller.address = "10.0.0.1";
    poller.mapping = mapping_of("SYS_NAME", sys_name);
  }

  std::string heartbeat(const snmp::oid_value_map& response) {
    ctemplate::TemplateDictionary dictionary("heartbeat");
    dictionary.SetValue("IP_ADDRESS", poller.address);
    dictionary.SetValue("TAMRO_MAC_ADDRESS", identity.mac_address);
    poller.fill_heartbeat(response, dictionary);
    std::string text;
    ctemplate::ExpandTemplate("poller-test", ctemplate::DO_NOT_STRIP, &dictionary, &text);
    return text;
  }

  test::log_capture log;
  boost::asio::io_context io;
  host_identity identity;
  snmp_poller poller{io, identity};
};

TEST_F(SnmpPoller, StartsIdleWithTheDefaults) {
  EXPECT_EQ(poller.name(), "10.0.0.1");
  EXPECT_EQ(poller.version, 0);
  EXPECT_EQ(poller.community, "vexrol");
  EXPECT_FALSE(poller.busy);
  EXPECT_FALSE(poller.recycled);
  poller.cancel();  // nothing in flight: nothing happens
  EXPECT_FALSE(poller.busy);
}

TEST_F(SnmpPoller, HeartbeatCarriesMappedVariablesAndRequestedStatistics) {
  poller.requested_statistics = {{counter, "if-count"},
                                 {"1.3.6.1.2.1.1.5.0", "name-without-dot"},
                                 {".1.3.6.1.9.9.9.0", "missing"}};
  EXPECT_EQ(heartbeat({{sys_name, "router-7"}, {counter, "12"}}),
            "ip=10.0.0.1 mac=00:1A:2B:3C:4D:5E name=router-7 stat:if-count=12 "
            "stat:name-without-dot=router-7");
}

TEST_F(SnmpPoller, MappingVariableReplacesTheDeviceAddress) {
  poller.mapping = mapping_of("IP_ADDRESS", sys_name);
  EXPECT_EQ(heartbeat({{sys_name, "192.0.2.9"}}), "ip=192.0.2.9 mac=00:1A:2B:3C:4D:5E name=");
}

TEST_F(SnmpPoller, MissingMappedValueIsAMappingError) {
  EXPECT_THROW(heartbeat({{counter, "12"}}), mapping_error);
}

TEST_F(SnmpPoller, AlarmTransitionsAndBadValuesAcrossCycles) {
  poller.requested_alarms = {{"a1", counter, "if-high", 10, alarm_op::above},
                             {"a2", sys_name, "name-is-number", 0, alarm_op::equal}};
  EXPECT_EQ(heartbeat({{sys_name, "r"}, {counter, "11"}}),
            "ip=10.0.0.1 mac=00:1A:2B:3C:4D:5E name=r alarm:a1/active/11/");
  EXPECT_TRUE(log.contains(
      "10.0.0.1 - error while processing alert [name-is-number] [.1.3.6.1.2.1.1.5.0]: "));
  EXPECT_EQ(heartbeat({{sys_name, "r"}, {counter, "12"}}),
            "ip=10.0.0.1 mac=00:1A:2B:3C:4D:5E name=r");
  // A missing value keeps the state; the alarm closes when the value comes back lower.
  EXPECT_EQ(heartbeat({{sys_name, "r"}}), "ip=10.0.0.1 mac=00:1A:2B:3C:4D:5E name=r");
  EXPECT_EQ(heartbeat({{sys_name, "r"}, {counter, "9"}}),
            "ip=10.0.0.1 mac=00:1A:2B:3C:4D:5E name=r alarm:a1/closed/9/");
  EXPECT_TRUE(poller.active_alarms.empty());
}

TEST_F(SnmpPoller, TrapsAreRenderedOnlyForTheTrapAlarmOfTheLastReply) {
  poller.pending_traps = {"link down", "link up"};
  EXPECT_EQ(heartbeat({{sys_name, "r"}}), "ip=10.0.0.1 mac=00:1A:2B:3C:4D:5E name=r");

  poller.requested_alarms = {{"t1", "", "snmp_trap", 0, alarm_op::equal},
                             {"t2", "", "snmp_trap", 0, alarm_op::equal}};
  poller.on_reply(boost::property_tree::ptree());
  EXPECT_EQ(poller.trap_alarm_id, "t1");
  EXPECT_EQ(heartbeat({{sys_name, "r"}}),
            "ip=10.0.0.1 mac=00:1A:2B:3C:4D:5E name=r alarm:t1/inactive/0/link down "
            "alarm:t1/inactive/0/link up");
  EXPECT_EQ(poller.pending_traps.size(), 2u);

  poller.requested_alarms = {{"x", "", "SNMP_TRAP", 0, alarm_op::equal}};
  poller.on_reply(boost::property_tree::ptree());
  EXPECT_EQ(poller.trap_alarm_id, "");
}

}  // namespace
}  // namespace tamro::agents
