#include "agents/alarm_state_store.hpp"

#include <boost/format.hpp>

#include "agents/agent_repository.hpp"
#include "log/logger.hpp"

namespace tamro::agents {

void alarm_state_store::restore(agent_repository& devices) {
  if (path_.empty()) return;
  try {
    saved_ = read_alarm_states(path_);
  } catch (const std::exception& e) {
    log_warning(boost::format("the alarm states cannot be read (%1%): every alarm starts as not "
                              "active") %
                e.what());
    saved_.clear();
  }
  // The states of devices no longer listed go with the first save.
  devices.restore_alarm_states(saved_);
}

void alarm_state_store::save(const agent_repository& devices) {
  if (path_.empty()) return;
  delivered_alarm_states states = devices.alarm_states();
  if (states == saved_) return;
  try {
    write_alarm_states(path_, states);
    saved_ = std::move(states);
  } catch (const std::exception& e) {
    log_error(boost::format("could not save changes to %1%: %2%") % path_ % e.what());
  }
}

}  // namespace tamro::agents
