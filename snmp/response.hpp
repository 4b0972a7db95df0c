#pragma once

#include "snmp/netsnmp/types.hpp"
#include "snmp/response_map.hpp"

namespace tamro::snmp {

// The values of a response by OID text. Exceptions (noSuchObject, noSuchInstance,
// endOfMibView) and empty values are left out; of repeated OIDs the first value wins.
oid_value_map response_map(const netsnmp_pdu& response);

}  // namespace tamro::snmp
