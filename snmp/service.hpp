#pragma once

#include "snmp/basic_service.hpp"
#include "snmp/netsnmp/service_implementation.hpp"

namespace tamro::snmp {

using service = basic_service<netsnmp::service_implementation>;

}  // namespace tamro::snmp
