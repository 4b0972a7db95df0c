#pragma once

#include <boost/property_tree/ptree_fwd.hpp>

namespace tamro {

// Applies the "snmp" section of the configuration to the library and to the session
// settings. Runs at start and at every reload; throws configuration_error for a time-out or
// retry count that the library cannot use.
void configure_snmp(const boost::property_tree::ptree& snmp_section);

}  // namespace tamro
