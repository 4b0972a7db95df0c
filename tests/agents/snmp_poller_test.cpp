#include <gtest/gtest.h>

#include <ctemplate/template.h>

#include <boost/asio/io_context.hpp>
#include <boost/property_tree/ptree.hpp>
#include <memory>
#include <string>

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

#include "agents/service_channel.hpp"
#include "agents/snmp_poller.hpp"
#include "mapping/mappers/oid_variable.hpp"
#include "reporting/heartbeat_posting.hpp"
#include "reporting/posting_settings.hpp"
#include "reporting/transcript_sender.hpp"
#include "snmp/configure_snmp.hpp"
#include "tests/snmp/library_setup.hpp"
#include "tests/support/agent_support.hpp"
#include "tests/support/snmpd.hpp"

namespace tamro::agents {
namespace {

const std::string sys_name = ".1.3.6.1.2.1.1.5.0";
const std::string if_number = ".1.3.6.1.2.1.2.1.0";

// A poller whose heartbeats are delivered or lost as a test says.
struct test_poller : snmp_poller {
  using snmp_poller::heartbeat_delivered;
  using snmp_poller::heartbeat_lost;
  using snmp_poller::snmp_poller;
};

class SnmpPoller : public ::testing::Test {
 protected:
  SnmpPoller() {
    ctemplate::StringToTemplateCache(
        "poller-test",
        "ip={{IP_ADDRESS}} name={{SYS_NAME}}"
        "{{#STATISTICS}} stat:{{STAT_ID}}={{STAT_VALUE}}{{/STATISTICS}}"
        "{{#ALARMS}} alarm:{{ALARM_ID}}/{{ALARM_STATUS}}/{{ALARM_VALUE}}/{{ALARM_CDATA}}"
        "{{/ALARMS}}",
        ctemplate::DO_NOT_STRIP);
    map_to("SYS_NAME");
  }

  void map_to(const std::string& variable) {
    device_settings settings;
    settings.address = "10.0.0.1";
    settings.mapping = std::make_shared<const mapping>(
        "test", std::vector<std::shared_ptr<const mapper>>{
                    std::make_shared<mappers::oid_variable>(variable, sys_name)});
    poller.reconfigure(std::move(settings));
  }

  std::string heartbeat(const snmp::oid_value_map& response) {
    ctemplate::TemplateDictionary dictionary("heartbeat");
    dictionary.SetValue("IP_ADDRESS", poller.name());
    poller.fill_heartbeat(response, dictionary);
    std::string text;
    ctemplate::ExpandTemplate("poller-test", ctemplate::DO_NOT_STRIP, &dictionary, &text);
    return text;
  }

  test::captured_log log;
  boost::asio::io_context io;
  heartbeat_posting posting{io};
  service_channel channel{io};
  host_identity identity;
  test_poller poller{io, posting.poster(), channel, identity};
};

TEST_F(SnmpPoller, HeartbeatCarriesVariablesStatisticsAndAlarms) {
  poller.requested_statistics = {{if_number, "ifs"},
                                 {"1.3.6.1.2.1.1.5.0", "name"},  // no leading dot
                                 {".1.3.6.1.9.9.9.0", "absent"}};
  poller.requested_alarms = {{"a1", if_number, "many-ifs", 10, alarm_op::above},
                             {"a2", sys_name, "numeric-name", 0, alarm_op::equal}};
  EXPECT_EQ(heartbeat({{sys_name, "r7"}, {if_number, "12"}}),
            "ip=10.0.0.1 name=r7 stat:ifs=12 stat:name=r7 alarm:a1/active/12/");
  EXPECT_TRUE(log.has_prefix(
      'W', "10.0.0.1 - error while processing alert [numeric-name] [" + sys_name + "]: "));
  poller.heartbeat_delivered();
  EXPECT_EQ(heartbeat({{sys_name, "r7"}, {if_number, "13"}}),
            "ip=10.0.0.1 name=r7 stat:ifs=13 stat:name=r7");
  poller.heartbeat_delivered();

  map_to("IP_ADDRESS");
  poller.requested_statistics.clear();
  EXPECT_EQ(heartbeat({{sys_name, "192.0.2.9"}, {if_number, "9"}}),
            "ip=192.0.2.9 name= alarm:a1/closed/9/");
}

TEST_F(SnmpPoller, AlarmTransitionsHoldUntilTheirHeartbeatIsDelivered) {
  poller.requested_alarms = {{"a1", if_number, "many-ifs", 10, alarm_op::above}};
  const auto alarms = [&](const char* value) {
    const std::string text = heartbeat({{sys_name, "r"}, {if_number, value}});
    return text.substr(std::string("ip=10.0.0.1 name=r").size());
  };
  EXPECT_EQ(alarms("12"), " alarm:a1/active/12/");
  poller.heartbeat_lost();
  EXPECT_EQ(alarms("13"), " alarm:a1/active/13/") << "reported again: the server never heard it";
  poller.heartbeat_delivered();
  EXPECT_EQ(alarms("14"), "");
  poller.heartbeat_delivered();
  EXPECT_EQ(poller.delivered_alarms(), std::set<std::string>{if_number});

  // Ended and started again within an outage: nothing to tell the server.
  EXPECT_EQ(alarms("9"), " alarm:a1/closed/9/");
  poller.heartbeat_lost();
  EXPECT_EQ(alarms("15"), "");
  poller.heartbeat_delivered();
  EXPECT_EQ(alarms("8"), " alarm:a1/closed/8/");
  poller.heartbeat_delivered();
  EXPECT_TRUE(poller.delivered_alarms().empty());

  // Known from an earlier run, and forgotten only when the server stops asking for it.
  poller.restore_alarms({if_number});
  poller.requested_alarms.clear();
  EXPECT_EQ(alarms("2"), "") << "not asked for: not evaluated, and not forgotten";
  poller.heartbeat_delivered();
  poller.requested_alarms = {{"a1", if_number, "many-ifs", 10, alarm_op::above}};
  EXPECT_EQ(alarms("3"), " alarm:a1/closed/3/");
  poller.heartbeat_lost();
  boost::property_tree::ptree reply;
  reply.put_child("heartbeat-reply.requested-alarms", {});
  poller.requested_alarms.clear();
  poller.on_reply(reply);
  EXPECT_TRUE(poller.delivered_alarms().empty());
}

TEST_F(SnmpPoller, TrapsAreRenderedForTheFirstTrapAlarmOfTheLastReply) {
  poller.pending_traps = {"link down", "link up"};
  EXPECT_EQ(heartbeat({{sys_name, "r"}}), "ip=10.0.0.1 name=r");

  poller.requested_alarms = {{"t1", "", "snmp_trap", 0, alarm_op::equal},
                             {"t2", "", "snmp_trap", 0, alarm_op::equal}};
  poller.on_reply(boost::property_tree::ptree());
  EXPECT_EQ(heartbeat({{sys_name, "r"}}),
            "ip=10.0.0.1 name=r alarm:t1/inactive/0/link down alarm:t1/inactive/0/link up");

  poller.requested_alarms = {{"x", "", "SNMP_TRAP", 0, alarm_op::equal}};
  poller.on_reply(boost::property_tree::ptree());
  EXPECT_EQ(poller.trap_alarm_id, "");
}

int open_descriptors() {
  int count = 0;
  if (DIR* folder = ::opendir("/proc/self/fd")) {
    while (::readdir(folder)) ++count;
    ::closedir(folder);
  }
  return count;
}

TEST_F(SnmpPoller, KeepsItsSessionUntilAChangeAnErrorOrItsEnd) {
  test::temp_dir dir;
  auto snmp = test::snmp_section(dir);
  snmp.put("timeout", 1);
  configure_snmp(snmp);
  test::snmpd device;
  test::write_file(dir.file("heartbeat.xml"), "{{SYS_NAME}}\n");
  boost::property_tree::ptree section;
  section.put("heartbeat-template", dir.file("heartbeat.xml"));
  section.put("server-uri", "http://127.0.0.1:9/");
  posting.configure(read_posting_settings(section));
  std::ostringstream printed;
  transcript_sender transcript(io, printed);
  posting.poster().use(transcript);

  auto local = std::make_unique<snmp_poller>(io, posting.poster(), channel, identity);
  device_settings settings = poller.settings();
  settings.address = "127.0.0.1";
  settings.version = 1;
  settings.community = "public";
  settings.peer = device.peer();
  local->reconfigure(settings);
  const auto cycle = [&] {
    local->start_heartbeat();
    io.restart();
    while (local->busy() && io.run_one_for(std::chrono::seconds(10))) {
    }
    ASSERT_FALSE(local->busy());
  };
  // The service's reactor holds descriptors of its own from its first use on.
  boost::asio::use_service<snmp::service>(io);
  const int before = open_descriptors();
  // With no descriptor left the cycle fails, with the reason, and nothing is thrown.
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  const int lowest_free = ::dup(0);  // every descriptor below it is taken
  ::close(lowest_free);
  rlimit exhausted = limit;
  exhausted.rlim_cur = static_cast<rlim_t>(lowest_free);
  ::setrlimit(RLIMIT_NOFILE, &exhausted);
  EXPECT_NO_THROW(local->start_heartbeat());
  ::setrlimit(RLIMIT_NOFILE, &limit);
  EXPECT_FALSE(local->busy());
  EXPECT_TRUE(log.has('E', "127.0.0.1 - SNMP response error: Too many open files")) << log.text();
  EXPECT_FALSE(local->answered()) << "a session that does not open is a failed poll";
  EXPECT_EQ(local->last_failure, "SNMP request failed: Too many open files");

  cycle();
  const int with_session = open_descriptors();
  EXPECT_GT(with_session, before);
  for (int i = 0; i < 3; ++i) cycle();
  EXPECT_EQ(open_descriptors(), with_session) << "one session for every cycle";
  std::size_t heartbeats = 0;
  for (auto at = printed.str().find(device.options().sys_name); at != std::string::npos;
       at = printed.str().find(device.options().sys_name, at + 1))
    ++heartbeats;
  EXPECT_EQ(heartbeats, 4u) << printed.str();

  settings.community = "wrong";  // reopened with it: no answer comes
  local->reconfigure(settings);
  cycle();
  EXPECT_TRUE(log.has('E', "127.0.0.1 - SNMP response error: Timeout")) << log.text();
  EXPECT_EQ(open_descriptors(), before) << "a failed session is not kept";
  settings.community = "public";
  local->reconfigure(settings);
  cycle();
  EXPECT_EQ(open_descriptors(), with_session);
  local.reset();
  EXPECT_EQ(open_descriptors(), before);
  posting.poster().use(posting.server());
}

}  // namespace
}  // namespace tamro::agents
