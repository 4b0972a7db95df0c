#include "agents/alarm_state_file.hpp"

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/ptree.hpp>
#include <stdexcept>

#include "config/xml_file.hpp"

namespace tamro::agents {
namespace {

using boost::property_tree::ptree;

constexpr const char* root_name = "alarm-states";

}  // namespace

delivered_alarm_states read_alarm_states(const std::string& path) {
  boost::system::error_code missing;
  if (!boost::filesystem::exists(path, missing)) return {};
  // Its own errors name the file.
  const ptree tree = read_xml_file(path);
  delivered_alarm_states states;
  try {
    for (const auto& [element, device] : tree.get_child(root_name)) {
      if (element != "device") continue;
      auto& active = states[device.get<std::string>("<xmlattr>.address")];
      for (const auto& [child, alarm] : device)
        if (child == "active") active.insert(alarm.get<std::string>("<xmlattr>.oid"));
    }
  } catch (const std::exception& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
  return states;
}

void write_alarm_states(const std::string& path, const delivered_alarm_states& states) {
  ptree tree;
  tree.add("<xmlcomment>",
           "Written by TAMRO: the alarms the management server last heard active, per device");
  ptree& root = tree.add_child(root_name, {});
  for (const auto& [address, active] : states) {
    if (active.empty()) continue;
    ptree& device = root.add("device", "");
    device.put("<xmlattr>.address", address);
    for (const std::string& oid : active) device.add_child("active", {}).put("<xmlattr>.oid", oid);
  }
  write_xml_file(path, tree);
}

}  // namespace tamro::agents
