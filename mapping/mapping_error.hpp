#pragma once

#include <stdexcept>
#include <string>

namespace tamro {

// A mapped variable whose value the SNMP response did not carry.
class mapping_error : public std::runtime_error {
 public:
  explicit mapping_error(const std::string& variable)
      : std::runtime_error("value for " + variable + " not found in response") {}
};

}  // namespace tamro
