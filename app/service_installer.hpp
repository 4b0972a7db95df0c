#pragma once

#include <optional>
#include <string>

namespace tamro {

// Registers this executable with the operating system's service manager: started at boot,
// restarted after a failure, run with the given configuration file (made absolute) or the
// default one. Throws std::runtime_error saying what the service manager refused.
void install_service(const std::optional<std::string>& configuration);
// Stops the service if it runs and removes it. Throws std::runtime_error as above.
void remove_service();

}  // namespace tamro
