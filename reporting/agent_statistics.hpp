#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

namespace tamro {

// Durations counted into cumulative buckets, as monitoring systems read them.
struct duration_histogram {
  static constexpr std::array<double, 11> bounds = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                    0.5,   1,    2.5,   5,    10};
  std::array<std::uint64_t, bounds.size()> counts{};  // observations up to each bound
  std::uint64_t count = 0;
  double sum = 0;

  void observe(double seconds);
};

// What every agent of the process has done so far: what the service status and the metrics
// endpoint show. Touched only on the I/O thread.
struct agent_statistics {
  using clock = std::chrono::steady_clock;

  std::uint64_t heartbeats_delivered = 0;
  std::uint64_t heartbeats_failed = 0;
  // Heartbeats sent a second time, on a new connection, after a kept one failed before its
  // reply began.
  std::uint64_t heartbeat_retries = 0;
  duration_histogram post_duration;
  std::uint64_t snmp_answered = 0;
  std::uint64_t snmp_timed_out = 0;
  std::uint64_t snmp_failed = 0;
  // The latest post that ended, delivered or not; no time until one has.
  clock::time_point last_post_time;
  std::string last_post_failure;  // empty when it was delivered

  static agent_statistics& global();
};

}  // namespace tamro
