#pragma once

#include <string>

namespace tamro {

class agent;

// Applies a heartbeat reply to the agent that posted it: new interval, requested statistics
// and alarms, then the agent's on_reply hook. Every failure of its own is logged and
// contained; an exception from on_reply propagates.
void process_reply(agent& target, const std::string& body);

}  // namespace tamro
