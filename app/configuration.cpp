#include <boost/asio/ip/address_v4.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <stdexcept>

#include "app/application.hpp"
#include "app/host_discovery.hpp"
#include "app/paths.hpp"
#include "app/version.hpp"
#include "config/xml_file.hpp"
#include "log/logger.hpp"
#include "mapping/mac_address.hpp"
#include "reporting/agent.hpp"
#include "snmp/configure_snmp.hpp"

namespace tamro {
namespace {

using boost::property_tree::ptree;

// Defaults are handed on in a copy, never stored in the tree, so that a write-back holds
// only what the file held.
ptree with_default(const ptree& section, const char* key, const std::string& value) {
  if (section.count(key)) return section;
  ptree copy = section;
  copy.put(key, value);
  return copy;
}

constexpr int max_reporting_interval = 7200;

}  // namespace

void application::reload_configuration() {
  if (reload_requested_) log_info("--- reloading configuration ---");
  try {
    load_configuration();
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("configuration: ") + e.what());
  }
}

void application::load_configuration() {
  log_debug(boost::format("loading configuration from %1%") % configuration_file_);
  configuration_ =
      read_xml_file(configuration_file_, boost::property_tree::xml_parser::trim_whitespace);
  const ptree& root = configuration_.get_child("tamro-configuration");

  ptree logging = with_default(root.get_child("logging"), "file", default_log_file());
  if (check_) {
    // The check reports on the console and leaves the log file alone.
    logging.erase("file");
    logging.put("console", true);
    if (!verbose_) logging.put("level", "warning");
  }
  configure_logging(logging);
  if (verbose_) {
    set_threshold(1);
    set_console(true);
  }

  agent::configure(
      with_default(root.get_child("agent"), "heartbeat-template", default_heartbeat_template()));

  configure_snmp(
      with_default(with_default(root.get_child("snmp"), "mib-directory", default_mib_directory()),
                   "persistent-directory", default_persistent_directory()));

  mappings_file_ = root.get("mappings-file", default_mappings_file());
  log_debug(boost::format("loading mappings from %1%") % mappings_file_);
  mappings_.load(mappings_file_);

  devices_file_ = root.get("devices-file", default_devices_file());
  // A process killed between writing one of its files and renaming it left the text behind.
  if (!check_)
    for (const std::string* written : {&configuration_file_, &mappings_file_, &devices_file_})
      remove_leftover_temporaries(*written);
  log_debug(boost::format("loading agents from %1%") % devices_file_);
  devices_.load(devices_file_);
  // Lists the server pushes go to the repositories loaded here.
  reporter_.set_list_receiver(&pushed_lists_);

  load_reporting(root.get_child("reporting"));
}

void application::load_reporting(const ptree& reporting) {
  identity_.name = reporting.get("name", "Tamro");
  identity_.location = reporting.get("location", "Unknown");
  identity_.serial_number = reporting.get("serial-number", "00000000-00000001");

  if (const auto ip = reporting.get_optional<std::string>("ip-address")) {
    boost::system::error_code error;
    boost::asio::ip::make_address_v4(*ip, error);
    if (error) throw std::runtime_error("invalid IP address " + *ip);
    identity_.ip_address = *ip;
  } else {
    identity_.ip_address = discover_ip_address(io_service_);
  }
  log_info(boost::format("IP address %1%") % identity_.ip_address);

  if (auto mac = reporting.get_optional<std::string>("mac-address")) {
    std::string normalized = *mac;
    if (!normalize_mac_address(normalized)) throw std::runtime_error("invalid MAC address " + *mac);
    identity_.mac_address = normalized;
  } else {
    identity_.mac_address = discover_mac_address();
  }
  log_info(boost::format("MAC address %1%") % identity_.mac_address);

  if (const auto interval = reporting.get_optional<int>("heartbeat-interval")) {
    if (*interval < 1 || *interval > max_reporting_interval) {
      throw std::runtime_error("invalid heartbeat interval " +
                               reporting.get<std::string>("heartbeat-interval"));
    }
    reporter_.interval = boost::posix_time::seconds(*interval);
  }
  identity_.version = version_text;
}

void application::save_configuration() { write_xml_file(configuration_file_, configuration_); }

}  // namespace tamro
