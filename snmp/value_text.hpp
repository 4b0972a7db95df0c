#pragma once

#include <string>

#include "snmp/netsnmp/types.hpp"

namespace tamro::snmp {

// The varbind's value as text, by its SNMP type; never fails ("(unrecognized type 0x..)").
std::string value_text(const netsnmp_variable_list& varbind);

// The value text itself, or all its bytes in hexadecimal when any of them is 0x80 or above,
// so that a log line never carries raw binary.
std::string log_text(const std::string& value);

}  // namespace tamro::snmp
