#pragma once

// The few library types that our public headers name, declared without pulling in the
// library's headers (they define macros such as `non_repeaters` that leak into every user).
struct snmp_pdu;
typedef struct snmp_pdu netsnmp_pdu;
struct variable_list;
typedef struct variable_list netsnmp_variable_list;
