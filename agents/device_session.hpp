#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <cstdint>
#include <optional>

#include "snmp/session_options.hpp"

namespace tamro::agents {

struct device_settings;

// The optional session elements of a device: SNMPv3 security (security-name,
// security-level, auth-protocol, auth-passphrase, privacy-protocol, privacy-passphrase,
// context-name; read for a v3 device only) and the device's own timeout and retries.
struct device_session {
  snmp::usm_credentials usm;
  std::optional<std::int32_t> timeout;
  std::optional<std::int32_t> retries;
};

// Throws std::runtime_error naming the element at fault.
device_session read_device_session(const boost::property_tree::ptree& device, int version);
void write_device_session(boost::property_tree::ptree& device, const device_settings& settings);

}  // namespace tamro::agents
