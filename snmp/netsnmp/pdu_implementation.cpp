#include "snmp/netsnmp/pdu_implementation.hpp"

#include "snmp/netsnmp/library.hpp"

namespace tamro::netsnmp {

const int pdu_implementation::get_command = SNMP_MSG_GET;

pdu_implementation::pointer pdu_implementation::create(int command) {
  return snmp_pdu_create(command);
}

void pdu_implementation::free(pointer pdu) {
  if (pdu != nullptr) snmp_free_pdu(pdu);
}

}  // namespace tamro::netsnmp
