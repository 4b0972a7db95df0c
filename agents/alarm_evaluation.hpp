#pragma once

#include <set>
#include <string>
#include <vector>

#include "reporting/requested_items.hpp"
#include "snmp/response_map.hpp"

namespace tamro::agents {

// An alarm whose condition started ("active") or ended ("closed") with this response.
struct alarm_transition {
  std::string id;
  std::string status;
  std::string value;  // as received
};

// An alarm that could not be evaluated because its value is not an integer.
struct alarm_failure {
  std::string name;
  std::string oid;
  std::string message;
};

struct alarm_report {
  std::vector<alarm_transition> transitions;
  std::vector<alarm_failure> failures;
};

// The OID text as the response map keys it: with a leading dot.
std::string response_key(const std::string& oid);

// The response value of an OID the server sent, which may lack the leading dot that the
// response's keys always carry. Null when the response has no value for it.
const std::string* find_value(const snmp::oid_value_map& response, const std::string& oid);

// Evaluates every alarm in list order against one response. The state is the set of OIDs
// (response keys) whose condition held when last seen: only changes are reported, and the
// state follows them. Alarms sharing an OID share that state. An alarm whose OID the
// response lacks keeps its state.
alarm_report evaluate_alarms(const std::vector<requested_alarm>& alarms,
                             const snmp::oid_value_map& response,
                             std::set<std::string>& active_alarms);

}  // namespace tamro::agents
