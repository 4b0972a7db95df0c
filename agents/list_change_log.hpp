#pragma once

#include <optional>
#include <string>

#include "agents/agent_repository.hpp"
#include "mapping/list_file_change.hpp"

namespace tamro::agents {

// The devices and mappings files as they are, before the agent rewrites them.
list_file_snapshot devices_file_snapshot(const std::string& path);
list_file_snapshot mappings_file_snapshot(const std::string& path);

// The operator finds every change the agent made to a file in the log, one info line per
// write, naming the file; a write that left the file as it was logs nothing.
//
// A list the server pushed: "device list replaced by the server: 212 devices (3 added,
// 1 removed, 2 changed) (FILE)"; list is "device list" or "mapping list", items "devices" or
// "mappings".
void log_list_replaced(list_file_snapshot& before, const char* list, const char* items);

// Saves the devices the server changed since the last save (the intervals its replies set,
// the devices whose mapping its list dropped) and logs what the save changed. Between saves
// it keeps the file as last written: a server that changes intervals over many ticks must
// not cost a thousand-device file read back and parsed twice per tick.
class device_file_saver {
 public:
  void save(agent_repository& devices, const std::string& path);
  // Drops the copy (about 2.4 KB per device) once a tick saved nothing: such changes come
  // in bursts, and the agent is measured by its memory at rest.
  void forget() { file_.reset(); }

 private:
  std::optional<list_file_snapshot> file_;
};

}  // namespace tamro::agents
