#pragma once

#include <cerrno>
#include <string>
#include <system_error>

namespace tamro {

// Why the last system call failed (errno), for a message that says what to fix.
inline std::string system_reason() {
  return std::error_code(errno, std::generic_category()).message();
}

}  // namespace tamro
