#pragma once

#include "snmp/netsnmp/types.hpp"

namespace tamro::netsnmp {

// How snmp::basic_pdu creates and frees the library's PDUs.
struct pdu_implementation {
  using pointer = netsnmp_pdu*;
  static pointer create(int command);
  static void free(pointer pdu);
  // The library's code of a GET request (0xA0).
  static const int get_command;
};

}  // namespace tamro::netsnmp
