#pragma once

#include <cstdint>
#include <string>

namespace tamro {

// Comparison of an alarm's value with its threshold; the numbers are the server's codes.
enum class alarm_op { equal = 0, below = 1, above = 2 };

// A statistic the server wants in the next heartbeats of an agent.
struct requested_statistic {
  std::string oid;  // numeric OID text as the server sent it
  std::string id;   // the server's identifier of the statistic
};

// An alarm the server wants evaluated against the agent's SNMP answers.
struct requested_alarm {
  std::string id;
  std::string oid;
  std::string name;
  std::int64_t threshold = 0;
  alarm_op op = alarm_op::equal;
};

}  // namespace tamro
