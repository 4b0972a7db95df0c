#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agents/alarm_evaluation.hpp"
#include "agents/alarm_state.hpp"

namespace tamro::agents {
namespace {

const std::string oid = ".1.3.6.1.4.1.99999.1.0";

requested_alarm alarm(const std::string& id, alarm_op op, std::int64_t threshold) {
  return {id, oid, "alarm-" + id, threshold, op};
}

// What each value in turn reports: "id:status=value" per transition, "" for none.
std::vector<std::string> run(const std::vector<requested_alarm>& alarms,
                             const std::vector<std::string>& values) {
  std::set<std::string> active;
  std::vector<std::string> cycles;
  for (const std::string& value : values) {
    std::string reported;
    for (const auto& t : evaluate_alarms(alarms, {{oid, value}}, active).transitions)
      reported += (reported.empty() ? "" : " ") + t.id + ":" + t.status + "=" + t.value;
    cycles.push_back(reported);
  }
  return cycles;
}

using cycles = std::vector<std::string>;

TEST(AlarmEvaluation, ReportsOnlyWhereAConditionStartsOrEnds) {
  EXPECT_EQ(run({alarm("a", alarm_op::above, 10)}, {"11", "12", "9", "9"}),
            (cycles{"a:active=11", "", "a:closed=9", ""}));
  EXPECT_EQ(run({alarm("b", alarm_op::below, 3)}, {"5", "4"}), (cycles{"", ""}));
  EXPECT_EQ(run({alarm("e", alarm_op::equal, 7)}, {"+7", "8"}),
            (cycles{"e:active=+7", "e:closed=8"}));
  // Both alarms share the state of their OID: one sets it, the other clears it.
  EXPECT_EQ(
      run({alarm("low", alarm_op::above, 10), alarm("high", alarm_op::above, 20)}, {"15", "15"}),
      (cycles{"low:active=15 high:closed=15", "low:active=15 high:closed=15"}));
}

TEST(AlarmEvaluation, ComparesAcrossTheWholeSigned64BitRange) {
  EXPECT_EQ(run({alarm("a", alarm_op::equal, INT64_MAX)}, {"9223372036854775807"}),
            (cycles{"a:active=9223372036854775807"}));
  EXPECT_EQ(run({alarm("a", alarm_op::below, INT64_MIN + 1)}, {"-9223372036854775808"}),
            (cycles{"a:active=-9223372036854775808"}));
  EXPECT_EQ(run({alarm("a", alarm_op::above, INT64_MIN)}, {"-9223372036854775808"}), (cycles{""}));
  EXPECT_EQ(run({alarm("a", alarm_op::below, -4)}, {"-5"}), (cycles{"a:active=-5"}));
}

TEST(AlarmEvaluation, UnusableOrMissingValueKeepsTheStateAndTheOthersGoOn) {
  std::set<std::string> active = {oid};
  requested_alarm other = alarm("b", alarm_op::above, 10);
  other.oid = "1.2.3";  // without the leading dot of the answer's keys
  const std::vector<requested_alarm> alarms = {alarm("a", alarm_op::below, 10), other};
  for (const char* bad : {"12.5", " 12", "abc", "", "9223372036854775808", "1e3"}) {
    const alarm_report report = evaluate_alarms(alarms, {{oid, bad}, {".1.2.3", "11"}}, active);
    ASSERT_EQ(report.failures.size(), 1u) << bad;
    EXPECT_EQ(report.failures[0].name, "alarm-a");
    EXPECT_EQ(report.failures[0].oid, oid);
    EXPECT_EQ(active, (std::set<std::string>{oid, ".1.2.3"})) << bad;
    active.erase(".1.2.3");
  }
  const alarm_report missing = evaluate_alarms(alarms, {}, active);
  EXPECT_TRUE(missing.transitions.empty() && missing.failures.empty());
  EXPECT_EQ(active, std::set<std::string>{oid});

  // No longer requested: the state goes, so that a later request reports the condition anew.
  alarm_state state;
  state.restore(active);
  state.forget_unrequested({other});
  EXPECT_TRUE(state.delivered().empty());
  const alarm_report again = state.evaluate(alarms, {{oid, "5"}});
  ASSERT_EQ(again.transitions.size(), 1u);
  EXPECT_EQ(again.transitions[0].status, "active");
}

}  // namespace
}  // namespace tamro::agents
