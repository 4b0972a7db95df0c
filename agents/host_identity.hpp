#pragma once

#include <string>

namespace tamro {

// What the status reporter publishes about this host; filled by each configuration load.
struct host_identity {
  std::string ip_address;
  std::string mac_address;
  std::string name;
  std::string location;
  std::string version;
  std::string serial_number;
  int uptime = 0;  // seconds since the main loop started
};

}  // namespace tamro
