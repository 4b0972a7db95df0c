#include "snmp/netsnmp/library_lock.hpp"

namespace tamro::netsnmp {

std::mutex& library_mutex() {
  static std::mutex instance;
  return instance;
}

}  // namespace tamro::netsnmp
