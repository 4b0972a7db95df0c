#include "agents/pushed_lists.hpp"

#include <boost/property_tree/ptree.hpp>

#include "agents/list_change_log.hpp"
#include "log/logger.hpp"

namespace tamro::agents {

pushed_lists::pushed_lists(mapping_repository& mappings, agent_repository& devices,
                           const std::string& mappings_file, const std::string& devices_file)
    : mappings_(mappings),
      devices_(devices),
      mappings_file_(mappings_file),
      devices_file_(devices_file) {}

void pushed_lists::receive_lists(const boost::property_tree::ptree& reply) {
  // Mappings first: the devices of the same reply name them.
  const auto mappings = reply.get_child_optional("heartbeat-reply.mappings");
  if (mappings) {
    log_debug("got a list of mappings from server, will reload");
    mappings_.load(*mappings);
    save_mappings();
  }

  if (const auto devices = reply.get_child_optional("heartbeat-reply.devices")) {
    log_debug("got a list of managed devices from server, will reload");
    list_file_snapshot before = devices_file_snapshot(devices_file_);
    devices_.load(*devices);
    try {
      devices_.save_devices(devices_file_);
      log_list_replaced(before, "device list", "devices");
    } catch (const std::exception& e) {
      log_error(boost::format("could not save changes to %1%: %2%") % devices_file_ % e.what());
      devices_.mark_modified();
    }
  } else if (mappings) {
    devices_.refresh_mappings();
  }
}

void pushed_lists::save_pending() {
  if (mappings_pending_) save_mappings();
}

void pushed_lists::save_mappings() {
  list_file_snapshot before = mappings_file_snapshot(mappings_file_);
  try {
    mappings_.save(mappings_file_);
    mappings_pending_ = false;
    log_list_replaced(before, "mapping list", "mappings");
  } catch (const std::exception& e) {
    log_error(boost::format("could not save changes to %1%: %2%") % mappings_file_ % e.what());
    mappings_pending_ = true;
  }
}

}  // namespace tamro::agents
