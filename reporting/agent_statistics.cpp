#include "reporting/agent_statistics.hpp"

namespace tamro {

void duration_histogram::observe(double seconds) {
  for (std::size_t i = 0; i < bounds.size(); ++i)
    if (seconds <= bounds[i]) ++counts[i];
  ++count;
  sum += seconds;
}

agent_statistics& agent_statistics::global() {
  static agent_statistics instance;
  return instance;
}

}  // namespace tamro
