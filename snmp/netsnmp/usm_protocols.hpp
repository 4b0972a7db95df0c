#pragma once

#include <cstddef>

#include "snmp/netsnmp/library.hpp"
#include "snmp/session_options.hpp"

namespace tamro::netsnmp {

// The library's object identifier of a protocol, as its sessions and users take it.
struct protocol_oid {
  const oid* value;
  std::size_t length;
};

protocol_oid oid_of(snmp::auth_protocol protocol);
protocol_oid oid_of(snmp::privacy_protocol protocol);

}  // namespace tamro::netsnmp
