#include "app/paths.hpp"

#include <cstdlib>

#include "app/platform.hpp"

namespace tamro {
namespace {

std::string read_home() {
  const char* value = std::getenv("TAMRO_HOME");
  return value ? value : platform::default_home();
}

// Read during static initialisation: a later change of the variable needs a restart.
const std::string home = read_home();

std::string at_home(const char* relative) {
  return platform::home_path(home_directory(), relative);
}

}  // namespace

const std::string& home_directory() { return home; }

std::string default_configuration_file() { return at_home("config/configuration.xml"); }
std::string default_mappings_file() { return at_home("config/mappings.xml"); }
std::string default_devices_file() { return at_home("config/devices.xml"); }
std::string default_heartbeat_template() { return at_home("config/heartbeat.xml"); }
std::string default_log_file() { return at_home("log/tamro.log"); }
std::string default_mib_directory() { return at_home("snmp/mibs"); }
std::string default_persistent_directory() { return at_home("snmp/persist"); }

}  // namespace tamro
