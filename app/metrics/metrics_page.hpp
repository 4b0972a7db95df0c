#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/metrics/metrics_connection.hpp"
#include "app/metrics/process_sample.hpp"
#include "reporting/agent_statistics.hpp"

namespace tamro {

// One device as the metrics show it.
struct device_sample {
  using time_point = std::chrono::system_clock::time_point;

  std::string address;
  // How long its last SNMP request that ended took, and whether it was answered; none until
  // the first has ended.
  std::optional<double> poll_seconds;
  bool up = false;
  std::optional<time_point> last_success;  // its last delivered heartbeat
};

// Everything one page shows.
struct metrics_snapshot {
  std::vector<device_sample> devices;
  agent_statistics statistics;
  process_sample process;
  bool last_reload_successful = true;
  std::optional<device_sample::time_point> last_reload_success;  // the start's load included
  std::optional<device_sample::time_point> status_last_success;  // the status reporter's
};

// The Prometheus text exposition (version 0.0.4): integers exactly, times to the millisecond.
std::string metrics_text(const metrics_snapshot& snapshot);

// GET /metrics: the text metrics() renders; GET /health: "ok" while healthy, else 503;
// 404 and 405 for anything else.
metrics_connection::response answer_metrics_request(const metrics_connection::request& request,
                                                    const std::function<std::string()>& metrics,
                                                    bool healthy);

}  // namespace tamro
