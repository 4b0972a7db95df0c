#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "agents/alarm_evaluation.hpp"

namespace tamro::agents {
namespace {

const std::string oid = ".1.3.6.1.4.1.99999.1.0";

requested_alarm alarm(const std::string& id, alarm_op op, std::int64_t threshold,
                      const std::string& on = oid) {
  return {id, on, "alarm-" + id, threshold, op};
}

// The statuses reported for each value in turn, one string per cycle ("" when quiet).
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

TEST(AlarmEvaluation, ReportsOnlyTheStartAndTheEndOfACondition) {
  EXPECT_EQ(run({alarm("a", alarm_op::above, 10)}, {"11", "12", "9", "9", "11"}),
            (std::vector<std::string>{"a:active=11", "", "a:closed=9", "", "a:active=11"}));
  EXPECT_EQ(run({alarm("b", alarm_op::below, 3)}, {"5", "4"}), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(run({alarm("e", alarm_op::equal, 7)}, {"7", "+7", "8"}),
            (std::vector<std::string>{"e:active=7", "", "e:closed=8"}));
}

TEST(AlarmEvaluation, AlarmsOnOneOidShareOneState) {
  // The first inserts the OID, the second removes it: both report every cycle.
  const std::vector<requested_alarm> alarms = {alarm("low", alarm_op::above, 10),
                                               alarm("high", alarm_op::above, 20)};
  EXPECT_EQ(
      run(alarms, {"15", "15", "15"}),
      (std::vector<std::string>{"low:active=15 high:closed=15", "low:active=15 high:closed=15",
                                "low:active=15 high:closed=15"}));
}

TEST(AlarmEvaluation, ComparesSigned64BitValuesExactly) {
  const auto max = std::numeric_limits<std::int64_t>::max();
  const auto min = std::numeric_limits<std::int64_t>::min();
  EXPECT_EQ(run({alarm("a", alarm_op::equal, max)}, {"9223372036854775807"}),
            (std::vector<std::string>{"a:active=9223372036854775807"}));
  EXPECT_EQ(run({alarm("a", alarm_op::below, max)}, {"9223372036854775806"}),
            (std::vector<std::string>{"a:active=9223372036854775806"}));
  EXPECT_EQ(run({alarm("a", alarm_op::equal, min)}, {"-9223372036854775808"}),
            (std::vector<std::string>{"a:active=-9223372036854775808"}));
  EXPECT_EQ(run({alarm("a", alarm_op::above, min)}, {"-9223372036854775808"}),
            (std::vector<std::string>{""}));
  EXPECT_EQ(run({alarm("a", alarm_op::below, -4)}, {"-5"}),
            (std::vector<std::string>{"a:active=-5"}));
}

TEST(AlarmEvaluation, ValueThatIsNotAPlainIntegerIsReportedAndKeepsTheState) {
  std::set<std::string> active = {oid};
  const std::vector<requested_alarm> alarms = {alarm("a", alarm_op::above, 10),
                                               alarm("b", alarm_op::above, 10, ".1.2.3")};
  for (const char* bad : {"12.5", " 12", "12 ", "abc", "", "9223372036854775808", "1e3"}) {
    const alarm_report report = evaluate_alarms(alarms, {{oid, bad}, {".1.2.3", "11"}}, active);
    ASSERT_EQ(report.failures.size(), 1u) << bad;
    EXPECT_EQ(report.failures[0].name, "alarm-a");
    EXPECT_EQ(report.failures[0].oid, oid);
    EXPECT_FALSE(report.failures[0].message.empty());
    EXPECT_TRUE(active.count(oid)) << bad;
    // The next alarm is still evaluated.
    EXPECT_TRUE(active.count(".1.2.3"));
    active.erase(".1.2.3");
  }
}

TEST(AlarmEvaluation, AlarmWithoutValueInTheResponseIsSkipped) {
  std::set<std::string> active = {oid};
  const std::vector<requested_alarm> alarms = {alarm("a", alarm_op::below, 10),
                                               alarm("trap", alarm_op::equal, 0, "")};
  const alarm_report report = evaluate_alarms(alarms, {{".1.2.3", "1"}}, active);
  EXPECT_TRUE(report.transitions.empty());
  EXPECT_TRUE(report.failures.empty());
  EXPECT_TRUE(active.count(oid));
}

TEST(AlarmEvaluation, OidWithoutLeadingDotFindsTheResponseValue) {
  std::set<std::string> active;
  const auto report = evaluate_alarms({alarm("a", alarm_op::above, 1, "1.3.6.1.4.1.99999.1.0")},
                                      {{oid, "2"}}, active);
  ASSERT_EQ(report.transitions.size(), 1u);
  EXPECT_EQ(report.transitions[0].status, "active");
  EXPECT_EQ(active, std::set<std::string>{oid});

  const snmp::oid_value_map response = {{oid, "x"}};
  ASSERT_NE(find_value(response, "1.3.6.1.4.1.99999.1.0"), nullptr);
  EXPECT_EQ(*find_value(response, "1.3.6.1.4.1.99999.1.0"), "x");
  EXPECT_EQ(find_value(response, ""), nullptr);
  EXPECT_EQ(find_value(response, ".1.3.6.1.4.1.99999.1"), nullptr);
}

}  // namespace
}  // namespace tamro::agents
