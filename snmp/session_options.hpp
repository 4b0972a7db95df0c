#pragma once

#include <cstdint>
#include <string>
#include <tuple>

namespace tamro::snmp {

enum class security_level { no_auth_no_priv, auth_no_priv, auth_priv };
enum class auth_protocol { md5, sha, sha224, sha256, sha384, sha512 };
// The _cisco variants extend the 128-bit localized key to 192 or 256 bits the other way
// (Reeder's draft rather than Blumenthal's), as some vendors' devices do.
enum class privacy_protocol { des, aes, aes192, aes256, aes192_cisco, aes256_cisco };

// SNMPv3 user-based security of one device. The passphrases are turned into keys once per
// process, off the I/O thread, and localized to the device's engine once it is discovered.
struct usm_credentials {
  std::string security_name;
  security_level level = security_level::no_auth_no_priv;
  auth_protocol auth = auth_protocol::sha;
  std::string auth_passphrase;
  privacy_protocol privacy = privacy_protocol::aes;
  std::string privacy_passphrase;
  std::string context_name;

  auto fields() const {
    return std::tie(security_name, level, auth, auth_passphrase, privacy, privacy_passphrase,
                    context_name);
  }
  bool operator==(const usm_credentials& other) const { return fields() == other.fields(); }
  bool operator!=(const usm_credentials& other) const { return !(*this == other); }
};

// Everything a session is opened with: a change of any of it calls for a new session.
struct session_options {
  int version = 0;  // the library's codes: 0 v1, 1 v2c, 3 v3
  std::string peer;
  std::string community;     // v1 and v2c
  usm_credentials usm;       // v3
  std::int32_t timeout = 5;  // seconds
  std::int32_t retries = 0;  // re-sends after the first

  auto fields() const { return std::tie(version, peer, community, usm, timeout, retries); }
  bool operator==(const session_options& other) const { return fields() == other.fields(); }
  bool operator!=(const session_options& other) const { return !(*this == other); }
};

}  // namespace tamro::snmp
