#pragma once

#include <string>

namespace tamro {

// The installation home: "TAMRO_HOME" as read once at start-up, else the platform default.
const std::string& home_directory();

// Default file locations: the home text followed directly by a fixed suffix.
std::string default_configuration_file();
std::string default_mappings_file();
std::string default_devices_file();
std::string default_heartbeat_template();
std::string default_log_file();
std::string default_mib_directory();
std::string default_persistent_directory();

}  // namespace tamro
