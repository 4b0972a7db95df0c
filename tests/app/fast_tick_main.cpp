// The agent with a shorter scheduling tick, for end-to-end tests only: the shipped binary
// always ticks every 30 seconds. TAMRO_TEST_TICK_MS sets the period.
#include <chrono>
#include <cstdlib>

#include "app/application.hpp"

int main(int argc, char* argv[]) {
  const char* tick = std::getenv("TAMRO_TEST_TICK_MS");
  tamro::application agent(std::chrono::milliseconds(tick ? std::atoi(tick) : 200));
  return agent.run(argc, argv);
}
