#include "app/service_status.hpp"

#include <chrono>

namespace tamro {

std::string service_status(std::size_t devices, std::size_t answering,
                           const agent_statistics& statistics,
                           agent_statistics::clock::time_point now) {
  std::string text =
      std::to_string(devices) + " devices, " + std::to_string(answering) + " answering, ";
  if (statistics.last_post_time == agent_statistics::clock::time_point())
    return text + "no post yet";
  const auto ago = std::to_string(
      std::chrono::duration_cast<std::chrono::seconds>(now - statistics.last_post_time).count());
  if (statistics.last_post_failure.empty()) return text + "last post OK " + ago + " s ago";
  return text + "last post failed " + ago + " s ago: " + statistics.last_post_failure;
}

}  // namespace tamro
