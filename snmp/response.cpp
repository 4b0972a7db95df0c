#include "snmp/response.hpp"

#include "snmp/netsnmp/library.hpp"
#include "snmp/oid.hpp"
#include "snmp/value_text.hpp"

namespace tamro::snmp {

oid_value_map response_map(const netsnmp_pdu& response) {
  oid_value_map values;
  for (const netsnmp_variable_list* varbind = response.variables; varbind != nullptr;
       varbind = varbind->next_variable) {
    if (varbind->type == SNMP_NOSUCHOBJECT || varbind->type == SNMP_NOSUCHINSTANCE ||
        varbind->type == SNMP_ENDOFMIBVIEW || varbind->val_len == 0) {
      continue;
    }
    // Printed, parsed and printed again, so that the key has the same form as the OID texts
    // the mappings ask for.
    const std::string key = oid_value(oid_text(*varbind)).text();
    values.emplace(key, value_text(*varbind));  // keeps the first of duplicates
  }
  return values;
}

}  // namespace tamro::snmp
