#include "agents/alarm_evaluation.hpp"

#include <boost/lexical_cast.hpp>
#include <cstdint>

namespace tamro::agents {
namespace {

bool condition_holds(const requested_alarm& alarm, std::int64_t value) {
  switch (alarm.op) {
    case alarm_op::below:
      return value < alarm.threshold;
    case alarm_op::above:
      return value > alarm.threshold;
    case alarm_op::equal:
      break;
  }
  return value == alarm.threshold;
}

}  // namespace

std::string response_key(const std::string& oid) {
  return oid.empty() || oid.front() == '.' ? oid : "." + oid;
}

const std::string* find_value(const snmp::oid_value_map& response, const std::string& oid) {
  if (oid.empty()) return nullptr;
  const auto found = response.find(response_key(oid));
  return found == response.end() ? nullptr : &found->second;
}

alarm_report evaluate_alarms(const std::vector<requested_alarm>& alarms,
                             const snmp::oid_value_map& response,
                             std::set<std::string>& active_alarms) {
  alarm_report report;
  for (const requested_alarm& alarm : alarms) {
    const std::string* value = find_value(response, alarm.oid);
    if (!value) continue;
    try {
      // Plain decimal only: a sign, digits, nothing else, within 64 bits.
      const bool holds = condition_holds(alarm, boost::lexical_cast<std::int64_t>(*value));
      const std::string key = response_key(alarm.oid);
      const bool was_active = active_alarms.count(key) != 0;
      if (holds == was_active) continue;
      report.transitions.push_back({alarm.id, holds ? "active" : "closed", *value});
      if (holds)
        active_alarms.insert(key);
      else
        active_alarms.erase(key);
    } catch (const std::exception& e) {
      report.failures.push_back({alarm.name, alarm.oid, e.what()});
    }
  }
  return report;
}

}  // namespace tamro::agents
