#include "agents/device_session.hpp"

#include <boost/property_tree/ptree.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "agents/device_settings.hpp"
#include "config/value_syntax.hpp"
#include "snmp/settings.hpp"
#include "snmp/usm_names.hpp"

namespace tamro::agents {
namespace {

using boost::property_tree::ptree;

// USM turns shorter passphrases into keys too, but RFC 3414 and every agent refuse them.
constexpr std::size_t shortest_passphrase = 8;

template <class Value>
Value named(const ptree& device, const char* element, Value fallback,
            Value (*parse)(const std::string&)) {
  const auto text = device.get_optional<std::string>(element);
  if (!text) return fallback;
  try {
    return parse(*text);
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(std::string(element) + ": " + e.what());
  }
}

std::string passphrase(const ptree& device, const char* element, bool needed) {
  const std::string text = device.get(element, std::string());
  if (!needed) return {};
  if (text.empty()) throw std::runtime_error(std::string(element) + " is missing");
  if (text.size() < shortest_passphrase) {
    throw std::runtime_error(std::string(element) + " is shorter than " +
                             std::to_string(shortest_passphrase) + " characters");
  }
  return text;
}

snmp::usm_credentials read_usm(const ptree& device) {
  snmp::usm_credentials usm;
  usm.security_name = device.get("security-name", std::string());
  usm.context_name = device.get("context-name", std::string());
  const bool has_auth = !device.get("auth-passphrase", std::string()).empty();
  const bool has_privacy = !device.get("privacy-passphrase", std::string()).empty();
  const auto implied = has_privacy ? snmp::security_level::auth_priv
                       : has_auth  ? snmp::security_level::auth_no_priv
                                   : snmp::security_level::no_auth_no_priv;
  usm.level = named(device, "security-level", implied, snmp::parse_security_level);
  usm.auth = named(device, "auth-protocol", snmp::auth_protocol::sha, snmp::parse_auth_protocol);
  usm.privacy =
      named(device, "privacy-protocol", snmp::privacy_protocol::aes, snmp::parse_privacy_protocol);
  usm.auth_passphrase =
      passphrase(device, "auth-passphrase", usm.level != snmp::security_level::no_auth_no_priv);
  usm.privacy_passphrase =
      passphrase(device, "privacy-passphrase", usm.level == snmp::security_level::auth_priv);
  return usm;
}

std::optional<std::int32_t> bounded(const ptree& device, const char* element, long long lowest,
                                    long long highest) {
  const auto text = device.get_optional<std::string>(element);
  if (!text) return std::nullopt;
  const auto value = parse_integer(*text, lowest, highest);
  if (!value) {
    throw std::runtime_error(std::string(element) + " \"" + *text + "\" is not a number from " +
                             std::to_string(lowest) + " to " + std::to_string(highest));
  }
  return static_cast<std::int32_t>(*value);
}

}  // namespace

device_session read_device_session(const ptree& device, int version) {
  device_session session;
  session.timeout = bounded(device, "timeout", 1, snmp::max_timeout_seconds);
  session.retries = bounded(device, "retries", 0, 100);
  // Only a v3 device has a use for them; elsewhere they are not checked and not kept.
  if (version == 3) session.usm = read_usm(device);
  return session;
}

void write_device_session(ptree& device, const device_settings& settings) {
  if (settings.version == 3) {
    const snmp::usm_credentials& usm = settings.usm;
    if (!usm.security_name.empty()) device.add("security-name", usm.security_name);
    device.add("security-level", snmp::name_of(usm.level));
    if (usm.level != snmp::security_level::no_auth_no_priv) {
      device.add("auth-protocol", snmp::name_of(usm.auth));
      device.add("auth-passphrase", usm.auth_passphrase);
    }
    if (usm.level == snmp::security_level::auth_priv) {
      device.add("privacy-protocol", snmp::name_of(usm.privacy));
      device.add("privacy-passphrase", usm.privacy_passphrase);
    }
    if (!usm.context_name.empty()) device.add("context-name", usm.context_name);
  }
  if (settings.timeout) device.add("timeout", *settings.timeout);
  if (settings.retries) device.add("retries", *settings.retries);
}

}  // namespace tamro::agents
