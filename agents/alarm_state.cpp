#include "agents/alarm_state.hpp"

#include <iterator>

namespace tamro::agents {

alarm_report alarm_state::evaluate(const std::vector<requested_alarm>& alarms,
                                   const snmp::oid_value_map& response) {
  std::set<std::string> states = delivered_;
  alarm_report report = evaluate_alarms(alarms, response, states);
  pending_ = std::move(states);
  return report;
}

void alarm_state::commit() {
  if (pending_) delivered_ = std::move(*pending_);
  pending_.reset();
}

void alarm_state::discard() { pending_.reset(); }

void alarm_state::forget_unrequested(const std::vector<requested_alarm>& alarms) {
  std::set<std::string> requested;
  for (const requested_alarm& alarm : alarms)
    if (!alarm.oid.empty()) requested.insert(response_key(alarm.oid));
  for (auto it = delivered_.begin(); it != delivered_.end();)
    it = requested.count(*it) ? std::next(it) : delivered_.erase(it);
}

}  // namespace tamro::agents
