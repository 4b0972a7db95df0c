#include <gtest/gtest.h>

#include <ctemplate/template.h>

#include <boost/asio/io_context.hpp>
#include <boost/property_tree/ptree.hpp>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "reporting/agent.hpp"
#include "reporting/heartbeat_posting.hpp"
#include "reporting/reply_processing.hpp"
#include "tests/support/agent_support.hpp"

namespace tamro {
namespace {

using boost::property_tree::ptree;

class reply_agent : public agent {
 public:
  reply_agent(boost::asio::io_context& io, heartbeat_poster& poster) : agent(io, poster) {}
  void start_heartbeat() override {}
  std::string name() const override { return "<test>"; }
  void on_reply(const ptree& reply) override { replies.push_back(reply); }

  std::vector<ptree> replies;

 protected:
  std::unique_ptr<ctemplate::TemplateDictionary> make_heartbeat() override { return nullptr; }
};

struct ReplyTest : ::testing::Test {
  boost::asio::io_context io;
  heartbeat_posting posting{io};
  reply_agent target{io, posting.poster()};
  test::captured_log log;

  void feed(const std::string& body) { process_reply(target, body); }

  // A reply with the given interval element text and list contents.
  static std::string reply(const std::string& interval, const std::string& stats = "",
                           const std::string& alarms = "") {
    return "<?xml version=\"1.0\"?><heartbeat-reply><heartbeat-interval>" + interval +
           "</heartbeat-interval><requested-statistics>" + stats +
           "</requested-statistics><requested-alarms>" + alarms +
           "</requested-alarms></heartbeat-reply>";
  }
};

TEST_F(ReplyTest, DocumentThatIsNotXmlOrNotAReplyIsIgnored) {
  target.requested_statistics.push_back({"1.2", "kept"});
  feed("<heartbeat-reply><heartbeat-interval>60</heartbeat-reply");
  EXPECT_TRUE(log.has_prefix('E', "<test> - while parsing KLAV server response XML: "));
  feed("<heartbeat><heartbeat-interval>60</heartbeat-interval></heartbeat>");
  EXPECT_TRUE(log.has('E', "<test> - <heartbeat-reply> not found in response XML"));
  feed("");
  // Nesting that would exhaust the reader's stack is refused before it is read.
  std::string deep = "<heartbeat-reply>\n";
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  feed(deep);
  EXPECT_TRUE(log.has('E',
                      "<test> - while parsing KLAV server response XML: <unspecified "
                      "file>(2): elements nested deeper than 64 levels"))
      << log.text();
  EXPECT_EQ(log.count('E'), 4);

  EXPECT_TRUE(target.replies.empty());
  EXPECT_EQ(target.interval, boost::posix_time::seconds(300));
  EXPECT_FALSE(target.interval_changed);
  ASSERT_EQ(target.requested_statistics.size(), 1u);
}

TEST_F(ReplyTest, IntervalThatDiffersIsAdoptedAndFlagged) {
  feed(reply(" 600\n"));
  EXPECT_EQ(target.interval, boost::posix_time::seconds(600));
  EXPECT_TRUE(target.interval_changed);
  EXPECT_TRUE(target.requested_statistics.empty());
  EXPECT_TRUE(target.requested_alarms.empty());
  EXPECT_EQ(target.replies.size(), 1u);

  target.interval_changed = false;
  feed(reply("600"));
  EXPECT_FALSE(target.interval_changed);

  // Compared in whole seconds: 600.5 s counts as 600.
  target.interval = boost::posix_time::milliseconds(600500);
  feed(reply("600"));
  EXPECT_FALSE(target.interval_changed);
  EXPECT_EQ(log.count('E'), 0);
}

TEST_F(ReplyTest, UnusableIntervalIsLoggedAndTheRestIsStillApplied) {
  const std::string prefix = "<test> - while parsing heartbeat interval: ";
  for (const std::string text : {"abc", "10.5", "2147483648", ""}) {
    feed(reply(text, "<stat id=\"" + text + "\" oid=\"1.1\"/>"));
    EXPECT_TRUE(log.has_prefix('E', prefix)) << text;
    ASSERT_EQ(target.requested_statistics.size(), 1u) << text;
    EXPECT_EQ(target.requested_statistics[0].id, text);
  }
  EXPECT_TRUE(log.has('E', prefix + "\"abc\" is not a whole number of seconds, keeping 300 "
                                    "seconds"));
  feed("<heartbeat-reply><requested-statistics/><requested-alarms/></heartbeat-reply>");
  EXPECT_TRUE(log.has('E', prefix + "No such node (heartbeat-interval)"));

  EXPECT_EQ(target.interval, boost::posix_time::seconds(300));
  EXPECT_FALSE(target.interval_changed);
  EXPECT_EQ(target.replies.size(), 5u);
}

TEST_F(ReplyTest, IntervalOutsideTheAgentsRangeIsNotAdopted) {
  target.longest_interval_seconds = 7200;
  feed(reply("0"));
  EXPECT_TRUE(log.has('E',
                      "<test> - while parsing heartbeat interval: 0 is below 1 second, "
                      "keeping 300 seconds"));
  feed(reply("-5"));
  feed(reply("7201"));
  EXPECT_TRUE(log.has('E',
                      "<test> - while parsing heartbeat interval: 7201 is above 7200 "
                      "seconds, keeping 300 seconds"));
  EXPECT_EQ(log.count('E'), 3);
  EXPECT_EQ(target.interval, boost::posix_time::seconds(300));
  EXPECT_FALSE(target.interval_changed);

  feed(reply("1"));
  EXPECT_EQ(target.interval, boost::posix_time::seconds(1));
  feed(reply("7200"));
  EXPECT_EQ(target.interval, boost::posix_time::seconds(7200));
  EXPECT_EQ(target.replies.size(), 5u);
}

TEST_F(ReplyTest, StatisticsWithNumericOidsAreKeptInOrder) {
  feed(reply("300",
             "<stat id=\"up\" oid=\".1.3.6.1.2.1.1.3.0\" desc=\"uptime\"/>"
             "<other id=\"x\" oid=\"1.1\"/>"
             "<!-- a comment -->"
             "<stat id=\"if\" oid=\"1.3.6.1.2.1.2.1.0\"/>"
             "<stat id=\"eth\" oid=\"$(eth0)\"/>"
             "<stat id=\"dot\" oid=\"1.3.6.\"/>"
             "<stat id=\"empty\" oid=\"\"/>"));
  ASSERT_EQ(target.requested_statistics.size(), 2u);
  EXPECT_EQ(target.requested_statistics[0].oid, ".1.3.6.1.2.1.1.3.0");
  EXPECT_EQ(target.requested_statistics[0].id, "up");
  EXPECT_EQ(target.requested_statistics[1].oid, "1.3.6.1.2.1.2.1.0");
  EXPECT_EQ(target.requested_statistics[1].id, "if");
  EXPECT_TRUE(log.has('D', "<test> - statistic requested: \"uptime\""));
  EXPECT_TRUE(log.has('D', "<test> - statistic requested: \"<unknown>\""));
  EXPECT_TRUE(log.has('W', "<test> - invalid SNMP OID \"$(eth0)\" - ignoring"));
  EXPECT_TRUE(log.has('W', "<test> - invalid SNMP OID \"1.3.6.\" - ignoring"));
  EXPECT_TRUE(log.has('W', "<test> - invalid SNMP OID \"\" - ignoring"));
  EXPECT_TRUE(log.has('W', "<test> - (TAMRO does not support the $(eth0) type placeholders)"));
  EXPECT_EQ(log.count('W'), 6);
}

TEST_F(ReplyTest, StatisticsWalkStopsAtAnIncompleteEntry) {
  feed(reply("300",
             "<stat id=\"a\" oid=\"1.1\"/><stat oid=\"1.2\"/><stat id=\"c\" oid=\"$(eth0)\"/>"));
  ASSERT_EQ(target.requested_statistics.size(), 1u);
  EXPECT_EQ(target.requested_statistics[0].id, "a");
  EXPECT_TRUE(log.has('E', "<test> - while parsing requested stats: No such node (<xmlattr>.id)"));
  EXPECT_EQ(log.count('W'), 0) << "the third entry is never looked at";
}

TEST_F(ReplyTest, ReplyWithoutAListKeepsThePreviousOne) {
  feed(reply("300", "<stat id=\"s\" oid=\"1.1\"/>",
             "<alarm id=\"a\" name=\"n\" oid=\"1.2\" threshold=\"5\" op=\"above\"/>"));
  feed("<heartbeat-reply><heartbeat-interval>60</heartbeat-interval></heartbeat-reply>");
  EXPECT_TRUE(
      log.has('E', "<test> - while parsing requested stats: No such node (requested-statistics)"));
  EXPECT_TRUE(
      log.has('E', "<test> - while parsing requested alerts: No such node (requested-alarms)"));
  EXPECT_EQ(target.requested_statistics.size(), 1u);
  EXPECT_EQ(target.requested_alarms.size(), 1u);
  EXPECT_EQ(target.interval, boost::posix_time::seconds(60));
  EXPECT_EQ(target.replies.size(), 2u);
}

TEST_F(ReplyTest, AlarmsAreReadWithTheirOperators) {
  feed(reply("300", "",
             "<alarm id=\"1\" name=\"load\" oid=\"1.3.1\" threshold=\"-9223372036854775808\" "
             "op=\"above\"/>"
             "<alarm id=\"2\" name=\"disk\" oid=\"1.3.2\" threshold=\" 20 \" op=\"below\"/>"
             "<alarm id=\"3\" name=\"snmp_trap\" oid=\"\" threshold=\"0\" op=\"equal\"/>"
             "<stat id=\"x\" oid=\"1.1\"/>"));
  ASSERT_EQ(target.requested_alarms.size(), 3u);
  const auto& first = target.requested_alarms[0];
  EXPECT_EQ(first.id, "1");
  EXPECT_EQ(first.name, "load");
  EXPECT_EQ(first.oid, "1.3.1");
  EXPECT_EQ(first.threshold, INT64_MIN);
  EXPECT_EQ(first.op, alarm_op::above);
  EXPECT_EQ(target.requested_alarms[1].op, alarm_op::below);
  EXPECT_EQ(target.requested_alarms[1].threshold, 20);
  EXPECT_EQ(target.requested_alarms[2].op, alarm_op::equal);
  EXPECT_EQ(target.requested_alarms[2].name, "snmp_trap");
  EXPECT_TRUE(log.has('D', "<test> - alert requested: [load] [1.3.1] above -9223372036854775808"));
  EXPECT_TRUE(log.has('D', "<test> - alert requested: [disk] [1.3.2] below 20"));
}

TEST_F(ReplyTest, FaultyAlarmIsSkippedAndItsSiblingsAreKept) {
  feed(reply("300", "",
             "<alarm id=\"1\" name=\"a\" oid=\"1.1\" threshold=\"1\" op=\"Above\"/>"
             "<alarm id=\"2\" name=\"b\" oid=\"1.2\" threshold=\"10.5\" op=\"above\"/>"
             "<alarm id=\"3\" name=\"c\" oid=\"1.3\" threshold=\"1e3\" op=\"above\"/>"
             "<alarm id=\"4\" name=\"d\" oid=\"1.4\" threshold=\"9223372036854775808\" "
             "op=\"above\"/>"
             "<alarm id=\"5\" oid=\"1.5\" threshold=\"1\" op=\"above\"/>"
             "<alarm id=\"6\" name=\"f\" oid=\"1.6\" threshold=\"7\" op=\"equal\"/>"));
  ASSERT_EQ(target.requested_alarms.size(), 1u);
  EXPECT_EQ(target.requested_alarms[0].id, "6");
  const std::string prefix = "<test> - ignoring requested alert definition: ";
  EXPECT_TRUE(log.has('W', prefix + "unknown \"op\" specification: Above"));
  EXPECT_TRUE(log.has('W', prefix + "No such node (<xmlattr>.name)"));
  EXPECT_EQ(log.count('W'), 5);
  EXPECT_EQ(log.count('E'), 0);
}

}  // namespace
}  // namespace tamro
