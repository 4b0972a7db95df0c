#pragma once

#include <cstdint>

namespace tamro::snmp {

// Session parameters shared by the whole process; read each time a session is opened.
struct settings {
  std::int32_t timeout = 5;  // seconds
  std::int32_t retries = 0;  // re-sends after the first
};

settings& global_settings();

}  // namespace tamro::snmp
