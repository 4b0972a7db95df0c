#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <string>

#include "agents/agent_repository.hpp"
#include "agents/list_receiver.hpp"
#include "mapping/mapping_repository.hpp"

namespace tamro::agents {

// Applies the mapping and device lists the server pushes in a status heartbeat reply and
// writes them to their files. A file that cannot be written does not undo what was
// loaded: the save is left pending and retried by save_pending() at the next tick.
class pushed_lists : public list_receiver {
 public:
  // The paths are read at each use, so they follow configuration reloads.
  pushed_lists(mapping_repository& mappings, agent_repository& devices,
               const std::string& mappings_file, const std::string& devices_file);

  void receive_lists(const boost::property_tree::ptree& reply) override;

  // Writes the mappings file if an earlier write failed. Failures are logged, never thrown.
  // Devices are left to agent_repository::is_modified(), which a failed save sets.
  void save_pending();
  bool mappings_pending() const { return mappings_pending_; }

 private:
  void save_mappings();

  mapping_repository& mappings_;
  agent_repository& devices_;
  const std::string& mappings_file_;
  const std::string& devices_file_;
  bool mappings_pending_ = false;
};

}  // namespace tamro::agents
