#include "agents/list_change_log.hpp"

#include <algorithm>

#include "log/logger.hpp"

namespace tamro::agents {
namespace {

constexpr const char* interval_element = "heartbeat-interval";
// A server that changes a thousand intervals at once gets a line, not a page.
constexpr std::size_t listed_intervals = 5;

std::string counts(const list_change& change, const char* items) {
  return (boost::format("%1% %2% (%3% added, %4% removed, %5% changed)") % change.items % items %
          change.added % change.removed % change.changed.size())
      .str();
}

// The agent's rewrite also spells out what a hand-written file left to the defaults; an
// element that only one side has is such a change, unless it is the interval itself.
bool only_interval_changed(const list_change::changed_item& item) {
  bool interval = false;
  for (const auto& [element, texts] : item.values) {
    if (element == interval_element) {
      interval = texts.second.has_value();
    } else if (texts.first && texts.second) {
      return false;
    }
  }
  return interval;
}

bool only_intervals(const list_change& change) {
  return change.added == 0 && change.removed == 0 && !change.changed.empty() &&
         std::all_of(change.changed.begin(), change.changed.end(), only_interval_changed);
}

std::string interval_change(const list_change::changed_item& item) {
  const auto& [old_text, new_text] = item.values.at(interval_element);
  return old_text.value_or("not set") + " -> " + *new_text + " s";
}

void log_intervals(const list_change& change, const std::string& path) {
  if (change.changed.size() == 1) {
    log_info(boost::format("heartbeat interval of %1% changed by the server: %2% (%3%)") %
             change.changed.front().key % interval_change(change.changed.front()) % path);
    return;
  }
  std::string listed;
  for (std::size_t i = 0; i < change.changed.size() && i < listed_intervals; ++i)
    listed += (i ? ", " : "") + change.changed[i].key + " " + interval_change(change.changed[i]);
  if (change.changed.size() > listed_intervals)
    listed += " and " + std::to_string(change.changed.size() - listed_intervals) + " more";
  log_info(boost::format("heartbeat interval of %1% devices changed by the server: %2% (%3%)") %
           change.changed.size() % listed % path);
}

}  // namespace

list_file_snapshot devices_file_snapshot(const std::string& path) {
  return list_file_snapshot(path, "devices", "ip-address");
}

list_file_snapshot mappings_file_snapshot(const std::string& path) {
  return list_file_snapshot(path, "mappings", "name");
}

void log_list_replaced(list_file_snapshot& before, const char* list, const char* items) {
  if (const auto change = before.changes())
    log_info(boost::format("%1% replaced by the server: %2% (%3%)") % list %
             counts(*change, items) % before.path());
}

void device_file_saver::save(agent_repository& devices, const std::string& path) {
  if (file_ && file_->path() == path) {
    file_->refresh();
  } else {
    file_ = devices_file_snapshot(path);
  }
  const auto change = file_->changes(devices.save_devices(path));
  if (!change) return;
  if (only_intervals(*change)) {
    log_intervals(*change, path);
  } else {
    log_info(boost::format("device list changed by the server: %1% (%2%)") %
             counts(*change, "devices") % path);
  }
}

}  // namespace tamro::agents
