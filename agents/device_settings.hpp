#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "mapping/mapping.hpp"
#include "snmp/session_options.hpp"

namespace tamro::agents {

// What the devices file says of one device, as its poller uses it.
struct device_settings {
  static constexpr const char* default_community = "vexrol";

  std::string address;
  std::string peer;  // the SNMP library's name for address and port (snmp_peer)
  int version = 0;   // the SNMP library's codes: 0 v1, 1 v2c, 3 v3
  std::string community = default_community;
  snmp::usm_credentials usm;  // v3; an empty security name stands for the community
  // The device's own SNMP time-out (seconds) and retries, over those of the configuration.
  std::optional<std::int32_t> timeout;
  std::optional<std::int32_t> retries;
  std::shared_ptr<const tamro::mapping> mapping;
};

}  // namespace tamro::agents
