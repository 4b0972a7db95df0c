#pragma once

#include <string>

#include "snmp/session_options.hpp"

namespace tamro::snmp {

// The names of the devices file, read without regard to case and written as listed there
// ("noAuthNoPriv", "SHA-256", "AES-192", "AES-256-C"; "AES256C" is read too). A name that is not
// known throws std::invalid_argument naming the accepted ones.
security_level parse_security_level(const std::string& text);
auth_protocol parse_auth_protocol(const std::string& text);
privacy_protocol parse_privacy_protocol(const std::string& text);

const char* name_of(security_level level);
const char* name_of(auth_protocol protocol);
const char* name_of(privacy_protocol protocol);

}  // namespace tamro::snmp
