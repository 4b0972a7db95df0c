#include "snmp/response.hpp"

#include <iterator>
#include <string>

#include "snmp/netsnmp/error_category.hpp"
#include "snmp/netsnmp/library.hpp"
#include "snmp/oid.hpp"
#include "snmp/value_text.hpp"

namespace tamro::snmp {

oid_value_map response_map(const netsnmp_pdu& response) {
  oid_value_map values;
  for (const netsnmp_variable_list* varbind = response.variables; varbind != nullptr;
       varbind = varbind->next_variable) {
    if (varbind->type == SNMP_NOSUCHOBJECT || varbind->type == SNMP_NOSUCHINSTANCE ||
        varbind->type == SNMP_ENDOFMIBVIEW ||
        (varbind->val_len == 0 && varbind->type != ASN_OCTET_STR)) {
      continue;
    }
    // Numbers with a leading dot, the form of the OID texts the mappings ask for, made here
    // rather than by the library (which would print it under its lock, for every value).
    const std::string key = numeric_oid_text(varbind->name, varbind->name_length);
    values.emplace(key, value_text(*varbind));  // keeps the first of duplicates
  }
  return values;
}

boost::system::error_code report_error(const netsnmp_pdu& response) {
  if (response.command != SNMP_MSG_REPORT) return {};
  const int code = snmpv3_get_report_type(const_cast<netsnmp_pdu*>(&response));
  return netsnmp::make_error_code(code != SNMPERR_SUCCESS ? code : SNMPERR_UNKNOWN_REPORT);
}

long error_status(const netsnmp_pdu& response) { return response.errstat; }
long error_index(const netsnmp_pdu& response) { return response.errindex; }

std::string error_status_name(long status) {
  static const char* const names[] = {"noError",
                                      "tooBig",
                                      "noSuchName",
                                      "badValue",
                                      "readOnly",
                                      "genErr",
                                      "noAccess",
                                      "wrongType",
                                      "wrongLength",
                                      "wrongEncoding",
                                      "wrongValue",
                                      "noCreation",
                                      "inconsistentValue",
                                      "resourceUnavailable",
                                      "commitFailed",
                                      "undoFailed",
                                      "authorizationError",
                                      "notWritable",
                                      "inconsistentName"};
  if (status >= 0 && status < static_cast<long>(std::size(names))) return names[status];
  return std::to_string(status);
}

}  // namespace tamro::snmp
