#include <boost/algorithm/string/predicate.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <iostream>
#include <stdexcept>

#include "agents/device_address.hpp"
#include "app/application.hpp"
#include "app/configuration_audit.hpp"
#include "app/host_discovery.hpp"
#include "app/paths.hpp"
#include "app/version.hpp"
#include "config/configuration_error.hpp"
#include "config/value_syntax.hpp"
#include "config/xml_file.hpp"
#include "log/logger.hpp"
#include "log/sink.hpp"
#include "mapping/mac_address.hpp"
#include "reporting/posting_settings.hpp"
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

// "HOST:PORT" with an IP address as host, an IPv6 address in brackets.
boost::asio::ip::tcp::endpoint metrics_endpoint(const std::string& text) {
  const auto invalid = [&] {
    return configuration_error("invalid metrics-listen " + text +
                               " (an IP address and a port, such as 127.0.0.1:9117)");
  };
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) throw invalid();
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  else if (host.find(':') != std::string::npos)
    throw invalid();  // 2001:db8::1:9117 could be an address without a port
  const auto port = parse_port(text.substr(colon + 1));
  boost::system::error_code error;
  const auto address = boost::asio::ip::make_address(host, error);
  if (error || !port || *port == 0) throw invalid();
  return {address, static_cast<unsigned short>(*port)};
}

bool is_loopback(const boost::asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6())
        .is_loopback();
  return address.is_loopback();
}

}  // namespace

// Everything a load reads from the files, checked, before any of it is put in force: a
// reload whose files do not load leaves the running configuration as it was.
struct application::staged_configuration {
  ptree logging;
  bool logging_applied = false;  // at the start, as soon as it was read
  posting_settings posting;
  ptree snmp;
  std::string mappings_file;
  ptree mappings;
  std::string devices_file;
  ptree devices;
  host_identity identity;
  boost::optional<int> reporting_interval;
  // What the files hold that a start reads leniently or ignores.
  std::vector<std::string> findings;
  // Settings that are allowed but deserve a second look: warnings, for the check too.
  std::vector<std::string> warnings;
  std::optional<boost::asio::ip::tcp::endpoint> metrics_listen;

  void add(const std::vector<std::string>& more) {
    findings.insert(findings.end(), more.begin(), more.end());
  }
};

void application::reload_configuration() {
  if (reload_requested_) log_info("--- reloading configuration ---");
  try {
    staged_configuration staged = read_configuration();
    apply_configuration(staged);
    configuration_loaded_ = std::chrono::system_clock::now();
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("configuration: ") + e.what());
  }
}

application::staged_configuration application::read_configuration() {
  log_debug(boost::format("loading configuration from %1%") % configuration_file_);
  staged_configuration staged;
  const ptree tree =
      read_xml_file(configuration_file_, boost::property_tree::xml_parser::trim_whitespace);
  const ptree& root = tree.get_child("tamro-configuration");
  staged.add(loose_xml_file_problems(configuration_file_));
  staged.add(audit_configuration(tree, configuration_file_));

  staged.logging = with_default(root.get_child("logging"), "file", default_log_file());
  staged.add(audit_log_file(staged.logging.get<std::string>("file"), configuration_file_));
  staged.warnings = configuration_warnings(tree, configuration_file_);
  if (check_ || once_) {
    // The test modes report on the console and leave the service's log file alone.
    staged.logging.erase("file");
    staged.logging.put("console", true);
    if (!verbose_) staged.logging.put("level", "warning");
  }
  // At the start nothing is logged to a file yet: the rest of the load, and its error if it
  // fails, belong in the file this section names. A reload keeps the logging in force until
  // the whole load has been read.
  if (!logging_in_force_) {
    apply_logging(staged.logging);
    staged.logging_applied = true;
    if (announce_start_) log_info(boost::format("--- %1% started ---") % version_text);
    announce_start_ = false;
  }

  if (const auto listen = root.get_optional<std::string>("agent.metrics-listen")) {
    staged.metrics_listen = metrics_endpoint(*listen);
    if (!is_loopback(staged.metrics_listen->address()))
      staged.warnings.push_back(configuration_file_ + ": agent/metrics-listen: " + *listen +
                                " can be reached from other hosts, and the metrics need no "
                                "password: bind it to 127.0.0.1 or let a firewall guard it");
  }
  staged.posting = read_posting_settings(
      with_default(root.get_child("agent"), "heartbeat-template", default_heartbeat_template()));
  // A local file read as the reply would count as a delivered heartbeat.
  if (boost::algorithm::iequals(staged.posting.server.protocol(), "file"))
    throw configuration_error("invalid server-uri " + staged.posting.server.display_text() +
                              " (heartbeats go to the management server by http:// or "
                              "https://, never to a file)");
  staged.add(audit_template(staged.posting.template_name, configuration_file_));

  staged.snmp =
      with_default(with_default(root.get_child("snmp"), "mib-directory", default_mib_directory()),
                   "persistent-directory", default_persistent_directory());
  if (check_) staged.snmp.put("persistent-directory", check_persistent_directory_);

  staged.mappings_file = root.get("mappings-file", default_mappings_file());
  log_debug(boost::format("loading mappings from %1%") % staged.mappings_file);
  staged.mappings = mappings_.read_root(staged.mappings_file);
  staged.add(loose_xml_file_problems(staged.mappings_file));
  staged.add(audit_mappings(staged.mappings, staged.mappings_file));

  staged.devices_file = root.get("devices-file", default_devices_file());
  // A process killed between writing one of its files and renaming it left the text behind.
  if (!check_)
    for (const std::string* written :
         {&configuration_file_, &staged.mappings_file, &staged.devices_file})
      remove_leftover_temporaries(*written);
  log_debug(boost::format("loading agents from %1%") % staged.devices_file);
  staged.devices = devices_.read_root(staged.devices_file);
  staged.add(loose_xml_file_problems(staged.devices_file));
  staged.add(audit_devices(staged.devices, staged.devices_file));

  read_reporting(root.get_child("reporting"), staged);
  return staged;
}

void application::read_reporting(const ptree& reporting, staged_configuration& staged) {
  host_identity& identity = staged.identity;
  identity.name = reporting.get("name", "Tamro");
  identity.location = reporting.get("location", "Unknown");
  identity.serial_number = reporting.get("serial-number", "00000000-00000001");

  if (const auto ip = reporting.get_optional<std::string>("ip-address")) {
    const auto address = canonical_ip_address(*ip);
    if (!address) throw std::runtime_error("invalid IP address " + *ip);
    identity.ip_address = *address;
  } else {
    identity.ip_address = discover_ip_address(io_service_);
  }

  if (auto mac = reporting.get_optional<std::string>("mac-address")) {
    std::string normalized = *mac;
    if (!normalize_mac_address(normalized)) throw std::runtime_error("invalid MAC address " + *mac);
    identity.mac_address = normalized;
  } else {
    identity.mac_address = discover_mac_address(io_service_, identity.ip_address);
  }

  staged.reporting_interval = reporting.get_optional<int>("heartbeat-interval");
  if (staged.reporting_interval &&
      (*staged.reporting_interval < 1 || *staged.reporting_interval > max_reporting_interval)) {
    throw std::runtime_error("invalid heartbeat interval " +
                             reporting.get<std::string>("heartbeat-interval"));
  }
  identity.version = version_text;
}

// Only the SNMP settings may still be refused here. The logging goes first so that the SNMP
// library's own lines reach the log; a refusal puts the logging in force before back.
void application::apply_configuration(staged_configuration& staged) {
  if (!staged.logging_applied) apply_logging(staged.logging);
  try {
    configure_snmp(staged.snmp);
  } catch (const std::exception&) {
    if (logging_in_force_) apply_logging(*logging_in_force_);
    throw;
  }
  logging_in_force_ = staged.logging;
  // A start goes on with what it can read; the check counts each as a problem.
  for (const std::string& finding : staged.findings) {
    if (check_)
      log_error(finding);
    else
      log_warning(finding);
  }
  for (const std::string& warning : staged.warnings) log_warning(warning);
  posting_.configure(staged.posting);
  metrics_endpoint_ = staged.metrics_listen;

  mappings_file_ = staged.mappings_file;
  mappings_.load(staged.mappings, mappings_file_);
  devices_file_ = staged.devices_file;
  devices_.load(staged.devices);
  // A reload is how an operator says a device has changed: its walks start full size again.
  for (const auto& entry : devices_) entry.second->forget_walk_shape();
  // The test modes keep no record: they must not change what the service knows.
  if (!check_ && !once_) {
    alarm_states_.set_path(
        (boost::filesystem::path(staged.snmp.get<std::string>("persistent-directory")) /
         "alarm-states.xml")
            .string());
    if (!alarm_states_restored_) alarm_states_.restore(devices_);
    alarm_states_restored_ = true;
  }
  // Lists the server pushes go to the repositories loaded here.
  reporter_.set_list_receiver(&pushed_lists_);

  const int uptime = identity_.uptime;
  identity_ = staged.identity;
  identity_.uptime = uptime;
  log_info(boost::format("IP address %1%") % identity_.ip_address);
  log_info(boost::format("MAC address %1%") % identity_.mac_address);
  if (staged.reporting_interval)
    reporter_.interval = boost::posix_time::seconds(*staged.reporting_interval);
}

void application::apply_logging(const ptree& logging) {
  configure_logging(logging);
  if (verbose_) {
    set_threshold(1);
    set_console(true);
  }
  // Without its file the log says nothing where the operator looks: say so where it shows.
  if (const std::string& problem = log::sink::global().file_problem(); !problem.empty()) {
    const std::string message = "log file " + logging.get<std::string>("file") +
                                " cannot be opened (" + problem +
                                "): nothing is logged to it until a reload opens it";
    std::cerr << log::sink::global().console_prefix(log::warning) << "Warning: " << message
              << std::endl;
    log_error(message);
  }
}

// The file on disk, not the copy of the last load: the operator may have edited it since,
// and the edit must reach the next reload. A file that does not read (an edit half done) is
// left alone; the save is tried again at the next tick.
void application::save_reporting_interval(long seconds) {
  ptree tree =
      read_xml_file(configuration_file_, boost::property_tree::xml_parser::trim_whitespace);
  const char* key = "tamro-configuration.reporting.heartbeat-interval";
  const std::string before = tree.get(key, std::string("not set"));
  tree.put(key, seconds);
  write_xml_file(configuration_file_, tree);
  if (before != std::to_string(seconds))
    log_info(
        boost::format("reporting/heartbeat-interval changed by the server: %1% -> %2% s (%3%)") %
        before % seconds % configuration_file_);
}

}  // namespace tamro
