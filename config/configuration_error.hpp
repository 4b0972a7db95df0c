#pragma once

#include <stdexcept>

namespace tamro {

// A value of a configuration section that cannot be used.
class configuration_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tamro
