#include "agents/agent_repository.hpp"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/random/mersenne_twister.hpp>
#include <boost/random/uniform_int_distribution.hpp>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "agents/device_address.hpp"
#include "agents/device_session.hpp"
#include "config/value_syntax.hpp"
#include "log/logger.hpp"
#include "reporting/schedule_clock.hpp"

namespace tamro {
namespace {

using boost::property_tree::ptree;

constexpr unsigned default_snmp_port = 161;
constexpr int first_heartbeat_slots = 9;
constexpr int tick_seconds = 30;

void check_device_element(const std::string& element) {
  if (element != "device") throw std::runtime_error("Not a device node: " + element);
}

// Every way of writing one address names the same device.
std::string device_address(const ptree& node) {
  const auto text = node.get<std::string>("ip-address");
  const auto address = canonical_ip_address(text);
  if (!address) throw std::runtime_error("invalid agent IP address: " + text);
  return *address;
}

// Anything but a port counts as absent.
std::optional<unsigned> udp_port(const ptree& node) {
  const auto text = node.get_optional<std::string>("udp-port");
  return text ? parse_port(*text) : std::nullopt;
}

int snmp_version_code(const std::string& text) {
  const std::string lowered = boost::algorithm::to_lower_copy(text);
  if (lowered == "1" || lowered == "v1") return 0;
  if (lowered == "2" || lowered == "2c" || lowered == "v2" || lowered == "v2c") return 1;
  if (lowered == "3" || lowered == "v3") return 3;
  throw std::runtime_error("unknown SNMP version " + lowered);
}

const char* snmp_version_text(int code) {
  switch (code) {
    case 1:
      return "v2c";
    case 3:
      return "v3";
    default:
      return "v1";
  }
}

// New devices start their first heartbeat spread over the first ten ticks, so that a long
// list does not poll all at once. The same sequence in every run.
int first_heartbeat_slot() {
  static boost::random::mt19937 generator;
  boost::random::uniform_int_distribution<int> slots(0, first_heartbeat_slots);
  return slots(generator);
}

}  // namespace

agent_repository::agent_repository(boost::asio::io_context& io, heartbeat_poster& poster,
                                   agents::snmp_channel& channel, mapping_repository& mappings,
                                   const host_identity& identity)
    : io_(io), poster_(poster), channel_(channel), mappings_(mappings), identity_(identity) {}

boost::property_tree::ptree agent_repository::save_devices(const std::string& path) {
  boost::property_tree::ptree written = save(path);
  for (const auto& entry : items()) entry.second->interval_changed = false;
  modified_ = false;
  return written;
}

bool agent_repository::is_modified() const {
  if (modified_) return true;
  for (const auto& entry : items())
    if (entry.second->interval_changed) return true;
  return false;
}

void agent_repository::sweep_dead() {
  std::vector<std::string> swept;
  for (const auto& entry : items()) {
    if (entry.second->retired() && !entry.second->busy()) {
      log_debug(boost::format("%1% - removing dead agent from list of known agents") % entry.first);
      swept.push_back(entry.first);
    }
  }
  for (const std::string& key : swept) items().erase(key);
}

void agent_repository::refresh_mappings() {
  log_debug("refreshing SNMP pollers' variable mappings");
  std::vector<std::string> retired;
  for (const auto& entry : items()) {
    agents::snmp_poller& poller = *entry.second;
    if (!poller.settings().mapping || poller.retired()) continue;
    agents::device_settings settings = poller.settings();
    try {
      settings.mapping = mappings_.get(settings.mapping->name());
    } catch (const std::exception& e) {
      log_error(boost::format("%1% - no longer monitored: %2%") % poller.name() % e.what());
      retired.push_back(entry.first);
      continue;
    }
    poller.reconfigure(std::move(settings));
  }
  if (retired.empty()) return;
  for (const std::string& key : retired) remove(key);
  modified_ = true;
}

agents::delivered_alarm_states agent_repository::alarm_states() const {
  agents::delivered_alarm_states states;
  for (const auto& [address, poller] : items())
    if (!poller->retired() && !poller->delivered_alarms().empty())
      states.emplace(address, poller->delivered_alarms());
  return states;
}

void agent_repository::restore_alarm_states(const agents::delivered_alarm_states& states) {
  for (const auto& [address, active] : states) {
    const auto held = items().find(address);
    if (held != items().end()) held->second->restore_alarms(active);
  }
}

void agent_repository::on_item_error(const std::exception& e) {
  log_error(boost::format("Error while parsing device node: %1%") % e.what());
}

const char* agent_repository::root_name() const { return "devices"; }

std::string agent_repository::item_key(const std::string& element, const ptree& node) {
  check_device_element(element);
  return device_address(node);
}

std::shared_ptr<agents::snmp_poller> agent_repository::create_item(const std::string& element,
                                                                   const ptree& node) {
  check_device_element(element);
  const auto address = device_address(node);

  std::shared_ptr<agents::snmp_poller> poller;
  const auto held = items().find(address);
  if (held != items().end()) poller = held->second;
  const bool created = !poller;

  agents::device_settings settings;
  settings.address = address;
  settings.mapping = mappings_.get(node.get<std::string>("mapping-name"));
  settings.version = poller ? poller->settings().version : 0;
  if (const auto text = node.get_optional<std::string>("snmp-version"))
    settings.version = snmp_version_code(*text);
  agents::device_session session = agents::read_device_session(node, settings.version);
  settings.peer = snmp_peer(address, udp_port(node).value_or(default_snmp_port));
  settings.community =
      node.get("community", std::string(agents::device_settings::default_community));
  settings.usm = std::move(session.usm);
  settings.timeout = session.timeout;
  settings.retries = session.retries;
  // Read before the poller changes: a device that does not load leaves it as it was.
  boost::optional<int> interval;
  if (created) {
    interval = node.get_optional<int>("heartbeat-interval");
    if (interval && *interval < 1)
      throw std::runtime_error("invalid heartbeat interval " +
                               node.get<std::string>("heartbeat-interval"));
  }

  if (created) {
    poller = std::make_shared<agents::snmp_poller>(io_, poster_, channel_, identity_);
    log_debug(boost::format("%1% - SNMP poller created") % address);
    poller->last_delivered =
        schedule_clock::now() - boost::posix_time::seconds(tick_seconds * first_heartbeat_slot());
    if (interval) poller->interval = boost::posix_time::seconds(*interval);
  } else {
    log_debug(boost::format("%1% - SNMP poller recycled") % address);
  }
  // A poller retired while busy and listed again before the sweep stays monitored.
  poller->reconfigure(std::move(settings));
  return poller;
}

void agent_repository::write_item(ptree& root, const agents::snmp_poller& poller) const {
  // Removed means removed: a poller waiting for its cycle to end is not listed again.
  if (poller.retired()) return;
  const agents::device_settings& settings = poller.settings();
  ptree& device = root.add("device", "");
  device.add("ip-address", settings.address);
  if (const auto port = peer_udp_port(settings.peer); !port.empty()) device.add("udp-port", port);
  device.add("snmp-version", snmp_version_text(settings.version));
  device.add("community", settings.community);
  if (settings.mapping) device.add("mapping-name", settings.mapping->name());
  device.add("heartbeat-interval", poller.interval.total_seconds());
  agents::write_device_session(device, settings);
}

void agent_repository::remove(const std::string& key) {
  const auto held = items().find(key);
  if (held == items().end()) return;
  held->second->retire();
  if (held->second->busy()) {
    log_debug(boost::format("%1% - orphaned agent is busy and cannot be removed from list of "
                            "known agents - marking as dead") %
              key);
    return;
  }
  log_debug(boost::format("%1% - removing orphaned agent from list of known agents") % key);
  items().erase(held);
}

}  // namespace tamro
