#pragma once

#include <map>
#include <string>

namespace tamro::snmp {

// The values of one SNMP response: numeric OID text with a leading dot (".1.3.6.1.2.1.1.3.0")
// to the rendered value text, in byte-wise key order.
using oid_value_map = std::map<std::string, std::string>;

}  // namespace tamro::snmp
