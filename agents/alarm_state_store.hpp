#pragma once

#include <string>

#include "agents/alarm_state_file.hpp"

namespace tamro {

class agent_repository;

namespace agents {

// Keeps what the server knows of the devices' alarms in a file of the agent's own across
// restarts, so that an alarm that ended while the agent was down is reported closed.
class alarm_state_store {
 public:
  // Where the record is kept; empty: nowhere (test modes).
  void set_path(std::string path) { path_ = std::move(path); }
  const std::string& path() const { return path_; }

  // At start: gives the devices held what an earlier run delivered. A record that cannot be
  // read is logged and ignored: the alarms then start from nothing.
  void restore(agent_repository& devices);
  // Writes the record when it no longer matches the devices held (a delivered transition, a
  // device removed). A failure is logged; the next call tries again.
  void save(const agent_repository& devices);

 private:
  std::string path_;
  delivered_alarm_states saved_;
};

}  // namespace agents
}  // namespace tamro
