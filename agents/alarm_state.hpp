#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agents/alarm_evaluation.hpp"

namespace tamro::agents {

// The alarm states of one device as the server last heard them, and those of the heartbeat
// in flight, which become what the server knows only once that heartbeat is delivered: a
// heartbeat that is lost leaves its transitions to be reported by the next one. States are
// kept per OID (alarms on one OID share one), as the set of OIDs whose condition held.
class alarm_state {
 public:
  // Evaluates the alarms against the delivered states; what it finds waits for commit() or
  // discard(). An evaluation replaces the one still waiting.
  alarm_report evaluate(const std::vector<requested_alarm>& alarms,
                        const snmp::oid_value_map& response);
  // The heartbeat carrying the last evaluation was delivered.
  void commit();
  // It was not, and never will be.
  void discard();
  // The server replaced its list: the states of OIDs it no longer asks for go, so that a
  // condition that holds when it asks again is reported as it starts.
  void forget_unrequested(const std::vector<requested_alarm>& alarms);

  const std::set<std::string>& delivered() const { return delivered_; }
  // What an earlier run delivered.
  void restore(std::set<std::string> active) { delivered_ = std::move(active); }

 private:
  std::set<std::string> delivered_;
  std::optional<std::set<std::string>> pending_;
};

}  // namespace tamro::agents
