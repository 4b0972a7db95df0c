// Every way a cycle ends: a poller and the status reporter driven through each phase with a
// failure, a reload, a removal, a stop or new settings injected at step N, N = 1, 2, ...
// until the cycle ends before step N, checking after each run what must always hold.
#include <gtest/gtest.h>

#include <ctemplate/template.h>

#include <algorithm>

#include <boost/asio/io_context.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "agents/snmp_poller.hpp"
#include "agents/status_reporter.hpp"
#include "mapping/mappers/oid_variable.hpp"
#include "mapping/mappers/table.hpp"
#include "reporting/agent_statistics.hpp"
#include "reporting/heartbeat_posting.hpp"
#include "reporting/posting_settings.hpp"
#include "snmp/configure_snmp.hpp"
#include "snmp/netsnmp/error_category.hpp"
#include "tests/agents/scripted_channel.hpp"
#include "tests/agents/scripted_sender.hpp"
#include "tests/snmp/library_setup.hpp"
#include "tests/support/agent_support.hpp"

namespace tamro::agents {
namespace {

using test_support::scripted_channel;
using test_support::scripted_sender;
using result = post_outcome::result;

const std::string sys_name = ".1.3.6.1.2.1.1.5.0";
const std::string level = ".1.3.6.1.4.1.99999.1.0";
const std::string column_oid = ".1.3.6.1.4.1.99999.2.1";

enum class event {
  // On an SNMP request.
  timeout,
  error_status,
  too_big,
  report,
  walk_error,
  // On the poller's post.
  refused,
  post_timeout,
  short_body,
  empty_reply,
  // From outside, at any step.
  reload,
  removal,
  stop,
  changed_settings,
  same_settings,
};

const char* name_of(event e) {
  static const char* const names[] = {
      "timeout", "error status", "tooBig",           "report",       "walk error",
      "refused", "post timeout", "short body",       "empty reply",  "reload",
      "removal", "stop",         "changed settings", "same settings"};
  return names[static_cast<int>(e)];
}

// Holds the only post slot until the test frees it, so that the poller waits for its turn.
class blocker : public agent {
 public:
  using agent::agent;
  void start_heartbeat() override { send_heartbeat(); }
  std::string name() const override { return "<blocker>"; }

 protected:
  std::unique_ptr<ctemplate::TemplateDictionary> make_heartbeat() override {
    auto dictionary = std::make_unique<ctemplate::TemplateDictionary>("heartbeat");
    dictionary->SetValue("SYS_NAME", "blocker");
    return dictionary;
  }
};

std::shared_ptr<const mapping> cycle_mapping() {
  std::istringstream table_xml("<table><name>ROWS</name><column><name>R</name><oid>" + column_oid +
                               "</oid></column></table>");
  boost::property_tree::ptree table;
  boost::property_tree::read_xml(table_xml, table);
  return std::make_shared<const mapping>(
      "cycle", std::vector<std::shared_ptr<const mapper>>{
                   std::make_shared<mappers::oid_variable>("SYS_NAME", sys_name),
                   std::make_shared<mappers::table>(table.get_child("table"))});
}

// One poller (SNMPv3, so its cycle starts with the engine discovery; a table, so it walks)
// with an alarm on a value, and a blocker holding the only post slot until the poller waits
// for it.
class cycle_run {
 public:
  cycle_run() {
    configure_snmp(test::snmp_section(dir));  // OIDs are parsed by the library
    test::write_file(dir.file("heartbeat.xml"),
                     "{{SYS_NAME}}{{#ROWS}} row={{R}}{{/ROWS}}"
                     "{{#ALARMS}} {{ALARM_ID}}/{{ALARM_STATUS}}{{/ALARMS}}");
    boost::property_tree::ptree section;
    section.put("heartbeat-template", dir.file("heartbeat.xml"));
    section.put("server-uri", "http://server.test/");
    section.put("max-concurrent-posts", "1");
    posting.configure(read_posting_settings(section));
    posting.poster().use(sender);
    channel.engine_unknown = true;
    settings.address = "10.0.0.1";
    settings.peer = "10.0.0.1";
    settings.version = 3;
    settings.mapping = cycle_mapping();
    poller.reconfigure(settings);
    poller.requested_alarms = {{"neg", level, "negative", -4, alarm_op::below}};
  }

  // Runs a cycle in which the alarm's value is `value`, with the event at step `at` (0:
  // none). The steps are the SNMP requests, the wait for the post slot and the post, in
  // order. Returns how many steps the cycle took.
  int run_cycle(int value, event injected, int at) {
    value_ = value;
    const int delivered_before = delivered_;
    blocking.cycle_start = now();
    blocking.start_heartbeat();
    if (!stopped_ && !poller.retired()) {
      poller.cycle_start = now();
      poller.start_heartbeat();
    }
    int step = 0;
    for (int turns = 0; turns < 1000; ++turns) {
      settle();
      EXPECT_EQ(poller.busy(), poller.phase() != cycle_phase::idle);
      const bool blocker_posts =
          sender.in_flight() > 0 && sender.oldest().agent_name == "<blocker>";
      step_kind kind;
      if (channel.in_flight() > 0) {
        kind = step_kind::snmp;
      } else if (blocker_posts && poller.phase() == cycle_phase::waiting_for_slot) {
        kind = step_kind::slot;
      } else if (blocker_posts) {
        sender.deliver();
        continue;
      } else if (sender.in_flight() > 0) {
        kind = step_kind::post;
      } else {
        break;
      }
      if (++step == at) {
        if (apply(injected, kind)) continue;
        settle();  // what the event cancelled is gone; the rest goes on as usual
      }
      proceed(kind);
    }
    EXPECT_FALSE(poller.busy()) << "a cycle ends idle";
    // A cycle where nothing goes wrong delivers, whatever the one before it went through.
    if (at == 0) {
      EXPECT_EQ(delivered_ - delivered_before, poller.retired() || stopped_ ? 0 : 1);
    }
    return step;
  }

  // Checks what must hold whatever happened.
  void check_invariants() {
    EXPECT_FALSE(log.has_prefix('E', "10.0.0.1 - cycle step from")) << log.text();
    EXPECT_FALSE(log.has_prefix('E', "10.0.0.1 - an SNMP answer of an earlier cycle"));
    EXPECT_EQ(channel.in_flight(), 0u);
    EXPECT_EQ(posting.poster().in_flight(), 0u);
    EXPECT_EQ(posting.poster().waiting(), 0u);
    // Each answer goes into one heartbeat at most.
    std::set<std::string> answers;
    for (const std::string& heartbeat : sender.sent) {
      if (heartbeat.rfind("answer-", 0) != 0) continue;
      EXPECT_TRUE(answers.insert(heartbeat.substr(0, heartbeat.find(' '))).second)
          << "one answer, two heartbeats: " << heartbeat;
    }
    EXPECT_EQ(poller_posts(), sent_when_retired_.value_or(poller_posts()))
        << "posted after it was retired";
    // What the poller holds as known is what the server took, no more and no less.
    EXPECT_EQ(poller.delivered_alarms().count(level) == 1, server_active_);
    if (!poller.retired() && !stopped_ && !poller.requested_alarms.empty()) {
      EXPECT_EQ(server_active_, value_ < -4) << "the last cycle's alarm state was not reported";
    }
  }

 private:
  enum class step_kind { snmp, slot, post };

  // The server's view of the alarm: a transition it already knows is reported twice.
  void server_takes(const std::string& heartbeat) {
    for (const std::string status : {"active", "closed"}) {
      if (heartbeat.find("neg/" + status) == std::string::npos) continue;
      const bool active = status == "active";
      EXPECT_NE(server_active_, active) << "reported twice: " << heartbeat;
      server_active_ = active;
    }
  }

  // The step as it goes without an event, if the event left it to do.
  void proceed(step_kind kind) {
    if (kind == step_kind::snmp && channel.in_flight() > 0) {
      answer();
    } else if (kind != step_kind::snmp && sender.in_flight() > 0) {
      if (sender.oldest().agent_name == "<blocker>") {
        sender.deliver();
        return;
      }
      server_takes(sender.oldest().heartbeat);
      ++delivered_;
      // The server asks for the alarm again, as servers do.
      sender.deliver(
          "<heartbeat-reply><heartbeat-interval>300</heartbeat-interval>"
          "<requested-statistics/><requested-alarms><alarm id=\"neg\" "
          "name=\"negative\" oid=\"" +
          level +
          "\" threshold=\"-4\" op=\"below\"/></requested-alarms>"
          "</heartbeat-reply>");
    }
  }

  // The cycle's values: "answer-N" as the name, and the alarm's value.
  void answer() {
    if (channel.probe_waiting()) {
      channel.answer({});
    } else if (channel.walk_waiting()) {
      // One row, then the end of the column.
      channel.answer(walked_ ? snmp::oid_value_map{}
                             : snmp::oid_value_map{{column_oid + ".1", "r"}});
      walked_ = !walked_;
    } else {
      channel.answer(
          {{sys_name, "answer-" + std::to_string(++answers_)}, {level, std::to_string(value_)}});
    }
  }

  // Applies the event at this step; false when the step is then to go on as usual.
  bool apply(event e, step_kind kind) {
    const bool snmp = kind == step_kind::snmp;
    const bool post = kind == step_kind::post;
    switch (e) {
      case event::timeout:
        if (snmp) channel.fail(netsnmp::make_error_code(netsnmp::timed_out));
        return snmp;
      case event::error_status:
        if (snmp) channel.answer({}, 5);  // genErr
        return snmp;
      case event::too_big:
        if (snmp) channel.answer({}, 1);
        return snmp;
      case event::report:
        if (snmp) channel.answer_report();
        return snmp;
      case event::walk_error:
        if (!channel.walk_waiting() || !walked_) return false;
        channel.answer({{column_oid + ".1", "again"}});  // does not move forward
        walked_ = false;
        return true;
      case event::refused:
        if (post) sender.end(result::failed, "503 Service Unavailable");
        return post;
      case event::post_timeout:
        if (post) sender.end(result::failed, "timed out");
        return post;
      case event::short_body:
        if (post) sender.end(result::failed, "End of file");
        return post;
      case event::empty_reply:
        if (post) sender.end(result::empty_reply);
        return post;
      case event::reload:
        poller.cancel();
        posting.poster().drop_waiting();
        return false;
      case event::removal:
        poller.retire();
        sent_when_retired_ = poller_posts();
        return false;
      case event::stop:
        posting.poster().stop();
        poller.cancel();
        stopped_ = true;
        return false;
      case event::changed_settings: {
        device_settings changed = settings;
        changed.community = "other";
        poller.reconfigure(changed);
        return false;
      }
      case event::same_settings:
        poller.reconfigure(settings);
        return false;
    }
    return false;
  }

  std::size_t poller_posts() const {
    return static_cast<std::size_t>(
        std::count_if(sender.sent.begin(), sender.sent.end(),
                      [](const std::string& heartbeat) { return heartbeat != "blocker"; }));
  }

  void settle() {
    io.restart();
    io.poll();
  }

  static boost::posix_time::ptime now() {
    return boost::posix_time::second_clock::universal_time();
  }

  test::temp_dir dir;
  test::captured_log log;
  boost::asio::io_context io;
  heartbeat_posting posting{io};
  scripted_sender sender{io};
  scripted_channel channel{io};
  host_identity identity;
  device_settings settings;
  snmp_poller poller{io, posting.poster(), channel, identity};
  blocker blocking{io, posting.poster()};
  int value_ = 0;
  int answers_ = 0;
  int delivered_ = 0;  // the poller's heartbeats the server took
  bool walked_ = false;
  bool stopped_ = false;
  bool server_active_ = false;
  std::optional<std::size_t> sent_when_retired_;
};

TEST(CyclePhases, EveryEventAtEveryStepLeavesTheCycleSound) {
  const int values[] = {-5, -5, 5, 5, -5};  // the alarm starts, holds, ends, stays, starts
  int scenarios = 0;
  for (int e = 0; e <= static_cast<int>(event::same_settings); ++e) {
    const auto injected = static_cast<event>(e);
    for (int at = 1;; ++at) {
      SCOPED_TRACE(std::string(name_of(injected)) + " at step " + std::to_string(at));
      cycle_run run;
      const int steps = run.run_cycle(values[0], injected, at);
      for (std::size_t c = 1; c < std::size(values); ++c) run.run_cycle(values[c], injected, 0);
      run.check_invariants();
      ++scenarios;
      if (at > steps) break;
    }
  }
  // Discovery, GET, two walk requests, the wait for a slot and the post: 7 runs per event.
  EXPECT_GE(scenarios, 14 * 7);
}

// The status reporter's one step is its post: each way it ends, and a tick that comes while
// it is in flight.
TEST(CyclePhases, TheStatusReporterPostsOnceAtATimeAndEachEndIsCounted) {
  struct ending {
    event injected;
    bool delivered;
    bool counted_failed;
  };
  const ending endings[] = {{event::same_settings, true, false}, {event::refused, false, true},
                            {event::post_timeout, false, true},  {event::short_body, false, true},
                            {event::empty_reply, false, true},   {event::reload, true, false},
                            {event::stop, false, false}};
  for (const ending& e : endings) {
    SCOPED_TRACE(name_of(e.injected));
    test::temp_dir dir;
    test::captured_log log;
    boost::asio::io_context io;
    heartbeat_posting posting{io};
    scripted_sender sender{io};
    test::write_file(dir.file("heartbeat.xml"), "{{NAME}}");
    boost::property_tree::ptree section;
    section.put("heartbeat-template", dir.file("heartbeat.xml"));
    section.put("server-uri", "http://server.test/");
    posting.configure(read_posting_settings(section));
    posting.poster().use(sender);
    host_identity identity;
    identity.name = "tamro";
    status_reporter reporter{io, posting.poster(), identity};
    const auto failed_before = agent_statistics::global().heartbeats_failed;

    reporter.cycle_start = boost::posix_time::second_clock::universal_time();
    reporter.start_heartbeat();
    EXPECT_EQ(reporter.phase(), cycle_phase::posting);
    // A tick while it posts starts nothing: the scheduler asks busy().
    EXPECT_TRUE(reporter.busy());
    EXPECT_EQ(sender.in_flight(), 1u);
    switch (e.injected) {
      case event::same_settings:
      case event::reload:
        posting.poster().drop_waiting();  // a reload leaves posts in flight alone
        sender.deliver();
        break;
      case event::stop:
        EXPECT_EQ(posting.poster().stop().in_flight, 1u);
        break;
      case event::empty_reply:
        sender.end(result::empty_reply);
        break;
      default:
        sender.end(result::failed, e.injected == event::post_timeout ? "timed out" : "cut");
        break;
    }
    io.run();
    EXPECT_FALSE(reporter.busy());
    EXPECT_EQ(reporter.last_delivered == reporter.cycle_start, e.delivered);
    EXPECT_EQ(reporter.is_due(), !e.delivered);
    EXPECT_EQ(agent_statistics::global().heartbeats_failed - failed_before,
              e.counted_failed ? 1u : 0u);
    EXPECT_EQ(log.count('E') + log.count('W'), e.counted_failed ? 1 : 0) << log.text();
  }
}

}  // namespace
}  // namespace tamro::agents
