#pragma once

#include <boost/property_tree/ptree.hpp>
#include <string>

#include "snmp/configure_snmp.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro::test {

// An "snmp" section whose folders live in the test's temporary folder, so the library never
// writes to the system's persistent folder.
inline boost::property_tree::ptree snmp_section(const temp_dir& dir) {
  boost::property_tree::ptree section;
  section.put("mib-directory", dir.path());
  section.put("persistent-directory", dir.file("persist"));
  return section;
}

}  // namespace tamro::test
