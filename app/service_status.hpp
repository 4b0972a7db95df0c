#pragma once

#include <cstddef>
#include <string>

#include "reporting/agent_statistics.hpp"

namespace tamro {

// The service manager's status line after a tick: "N devices, M answering, last post OK
// 12 s ago", or the failure of the last post that ended.
std::string service_status(std::size_t devices, std::size_t answering,
                           const agent_statistics& statistics,
                           agent_statistics::clock::time_point now);

}  // namespace tamro
