#pragma once

#include <boost/system/error_code.hpp>

#include "snmp/netsnmp/types.hpp"
#include "snmp/response_map.hpp"

namespace tamro::snmp {

// The values of a response by OID text. Exceptions (noSuchObject, noSuchInstance,
// endOfMibView), NULLs and other empty values are left out, but an empty OCTET STRING is a
// value; of repeated OIDs the first value wins.
oid_value_map response_map(const netsnmp_pdu& response);

// An SNMPv3 report in place of the answer (unknown user, wrong digest, ...) as the library's
// error; success for any other PDU.
boost::system::error_code report_error(const netsnmp_pdu& response);

// The response's error status and index (0 when all is well), and the status's name in the
// protocol ("tooBig", "noSuchName", ...; the number for one not known).
long error_status(const netsnmp_pdu& response);
long error_index(const netsnmp_pdu& response);
std::string error_status_name(long status);
// The status that asks for a smaller request.
constexpr long too_big = 1;

}  // namespace tamro::snmp
