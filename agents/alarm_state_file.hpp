#pragma once

#include <map>
#include <set>
#include <string>

namespace tamro::agents {

// Per device address, the OIDs of the alarms whose condition the server last heard start.
using delivered_alarm_states = std::map<std::string, std::set<std::string>>;

// The agent's own record of what the server knows of the alarms, so that one that ended
// while the agent was down is reported closed after a start. Not an operator's file.
//
// A missing file holds no states. Throws std::runtime_error naming the file when it
// cannot be read or is not such a record.
delivered_alarm_states read_alarm_states(const std::string& path);
// Atomically, for the owner alone; throws std::runtime_error naming the file.
void write_alarm_states(const std::string& path, const delivered_alarm_states& states);

}  // namespace tamro::agents
