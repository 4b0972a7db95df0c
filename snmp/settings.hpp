#pragma once

#include <cstdint>
#include <limits>

namespace tamro::snmp {

// The session time-out is handed to the library in microseconds in a 32-bit field.
constexpr std::int32_t max_timeout_seconds = std::numeric_limits<std::int32_t>::max() / 1000000;

// Session parameters shared by the whole process; read each time a session is opened.
struct settings {
  std::int32_t timeout = 5;  // seconds
  std::int32_t retries = 0;  // re-sends after the first
};

settings& global_settings();

}  // namespace tamro::snmp
