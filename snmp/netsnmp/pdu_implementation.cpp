#include "snmp/netsnmp/pdu_implementation.hpp"

#include "snmp/netsnmp/library.hpp"
#include "snmp/netsnmp/library_lock.hpp"

namespace tamro::netsnmp {

const int pdu_implementation::get_command = SNMP_MSG_GET;

pdu_implementation::pointer pdu_implementation::create(int command) {
  std::lock_guard<std::mutex> lock(library_mutex());  // takes the next request id
  return snmp_pdu_create(command);
}

void pdu_implementation::free(pointer pdu) {
  if (pdu != nullptr) snmp_free_pdu(pdu);
}

}  // namespace tamro::netsnmp
