#include <gtest/gtest.h>

#include <ctemplate/template.h>
#include <boost/asio/io_context.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <chrono>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "agents/status_reporter.hpp"
#include "reporting/heartbeat_posting.hpp"
#include "reporting/posting_settings.hpp"
#include "reporting/reply_processing.hpp"
#include "tests/support/agent_support.hpp"

namespace tamro::agents {
namespace {

using boost::property_tree::ptree;
using namespace std::chrono_literals;

const std::string sample_template = std::string(TAMRO_SOURCE_DIR) + "/etc/heartbeat.xml";

ptree parse(const std::string& xml) {
  ptree tree;
  std::istringstream in(xml);
  boost::property_tree::read_xml(in, tree);
  return tree;
}

class recording_receiver : public list_receiver {
 public:
  void receive_lists(const ptree& reply) override { replies.push_back(reply); }
  std::vector<ptree> replies;
};

struct StatusReporterTest : ::testing::Test {
  test::temp_dir dir;
  test::management_server server{dir};
  boost::asio::io_context io;
  heartbeat_posting posting{io};
  host_identity identity;
  status_reporter reporter{io, posting.poster(), identity};
  test::captured_log log;

  StatusReporterTest() {
    identity.ip_address = "10.1.2.3";
    identity.mac_address = "00:1A:2B:3C:4D:5E";
    identity.name = "Rack <3> & \"spare\"";
    identity.location = "Unknown";
    identity.version = "TAMRO v1.0.2.48224";
    identity.serial_number = "00000000-00000001";
    identity.uptime = 42;
    ptree section;
    section.put("heartbeat-template", sample_template);
    section.put("server-uri", server.url());
    section.put("http-timeout", "5");
    posting.configure(read_posting_settings(section));
  }

  void run_cycle() {
    reporter.cycle_start = boost::posix_time::second_clock::universal_time();
    reporter.start_heartbeat();
    EXPECT_TRUE(reporter.busy()) << "busy while its post is in flight, as a device is";
    io.restart();
    io.run_for(15s);
    ASSERT_TRUE(io.stopped());
  }
};

TEST_F(StatusReporterTest, HeartbeatCarriesTheHostIdentity) {
  run_cycle();
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const ptree heartbeat = parse(requests[0].body).get_child("heartbeat");
  EXPECT_EQ(heartbeat.get<std::string>("heartbeat-counter"), "1");
  EXPECT_EQ(heartbeat.get<std::string>("agent-mac-address"), "00:1A:2B:3C:4D:5E");
  EXPECT_EQ(heartbeat.get<std::string>("mac-address"), "00:1A:2B:3C:4D:5E");
  EXPECT_EQ(heartbeat.get<std::string>("ip-address"), "10.1.2.3");
  EXPECT_EQ(heartbeat.get<std::string>("name"), "Rack <3> & \"spare\"");
  EXPECT_EQ(heartbeat.get<std::string>("location"), "Unknown");
  EXPECT_EQ(heartbeat.get<std::string>("firmware-revision"), "TAMRO v1.0.2.48224");
  EXPECT_EQ(heartbeat.get<std::string>("serial-number"), "00000000-00000001");
  EXPECT_EQ(heartbeat.get<std::string>("uptime"), "42");
  EXPECT_TRUE(heartbeat.get_child("statistics").empty());
  EXPECT_TRUE(heartbeat.get_child("alarms").empty());

  EXPECT_TRUE(log.has('D', "<status reporter> - HTTP POST request sent"));
  EXPECT_TRUE(log.has_prefix('D', "<status reporter> - HTTP response received ("));
  EXPECT_EQ(reporter.last_delivered, reporter.cycle_start);
}

TEST_F(StatusReporterTest, PushedListsGoToTheReceiverWhenOneIsSet) {
  server.script(R"({"mappings": "<mappings><mapping name=\"m\"/></mappings>"})");
  run_cycle();
  EXPECT_EQ(reporter.last_delivered, reporter.cycle_start);

  recording_receiver receiver;
  reporter.set_list_receiver(&receiver);
  run_cycle();
  ASSERT_EQ(receiver.replies.size(), 1u);
  EXPECT_EQ(receiver.replies[0].get<std::string>("heartbeat-reply.mappings.mapping.<xmlattr>.name"),
            "m");
}

TEST_F(StatusReporterTest, IntervalIsKeptWithinWhatTheConfigurationAccepts) {
  const auto apply = [&](int seconds) {
    process_reply(reporter, "<heartbeat-reply><heartbeat-interval>" + std::to_string(seconds) +
                                "</heartbeat-interval></heartbeat-reply>");
  };
  apply(7201);
  EXPECT_TRUE(log.has('E',
                      "<status reporter> - while parsing heartbeat interval: 7201 is above "
                      "7200 seconds, keeping 300 seconds"));
  EXPECT_FALSE(reporter.interval_changed);
  apply(7200);
  EXPECT_EQ(reporter.interval, boost::posix_time::seconds(7200));
  EXPECT_TRUE(reporter.interval_changed);
}

// The sample template must give the server well-formed XML whatever an agent sets.
TEST(SampleTemplate, DeviceHeartbeatIsWellFormedAndEscaped) {
  auto* cache = ctemplate::mutable_default_template_cache();
  ASSERT_TRUE(cache->LoadTemplate(sample_template, ctemplate::STRIP_BLANK_LINES));
  const auto render = [&](const ctemplate::TemplateDictionary& dictionary) {
    std::string text;
    cache->ExpandWithData(sample_template, ctemplate::STRIP_BLANK_LINES, &dictionary, nullptr,
                          &text);
    return text;
  };

  ctemplate::TemplateDictionary empty("heartbeat");
  EXPECT_EQ(parse(render(empty)).get<std::string>("heartbeat.name"), "");

  ctemplate::TemplateDictionary device("heartbeat");
  device.SetValue("IP_ADDRESS", "10.0.0.5");
  device.SetValue("SYS_NAME", "core<1>");
  device.SetValue("SYS_DESCR", "Linux 'box' & \"more\"");
  device.SetValue("SYS_UPTIME", "123456");
  device.SetValue("SYS_LOCATION", "hall");
  device.SetValue("SYS_CONTACT", "ops@example");
  device.SetValue("IF_NUMBER", "4");
  device.SetIntValue("HEARTBEAT_COUNTER", 7);
  auto* stat = device.AddSectionDictionary("STATISTICS");
  stat->SetValue("STAT_ID", "s\"1");
  stat->SetValue("STAT_VALUE", "<5>");
  device.AddSectionDictionary("STATISTICS")->SetValue("STAT_ID", "s2");
  auto* trap = device.AddSectionDictionary("ALARMS");
  trap->SetValue("ALARM_ID", "9");
  trap->SetValue("ALARM_STATUS", "inactive");
  trap->SetValue("ALARM_VALUE", "0");
  trap->SetValue("ALARM_CDATA", "link ]]> down & out");

  const ptree heartbeat = parse(render(device)).get_child("heartbeat");
  EXPECT_EQ(heartbeat.get<std::string>("heartbeat-counter"), "7");
  EXPECT_EQ(heartbeat.get<std::string>("system.sys-name"), "core<1>");
  EXPECT_EQ(heartbeat.get<std::string>("system.sys-descr"), "Linux 'box' & \"more\"");
  EXPECT_EQ(heartbeat.get<std::string>("system.if-number"), "4");
  ASSERT_EQ(heartbeat.get_child("statistics").size(), 2u);
  EXPECT_EQ(heartbeat.get<std::string>("statistics.stat.<xmlattr>.id"), "s\"1");
  EXPECT_EQ(heartbeat.get<std::string>("statistics.stat"), "<5>");
  EXPECT_EQ(heartbeat.get<std::string>("alarms.alarm.<xmlattr>.status"), "inactive");
  EXPECT_EQ(heartbeat.get<std::string>("alarms.alarm"), "link ]]> down & out");
}

}  // namespace
}  // namespace tamro::agents
