#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/metrics/metrics_connection.hpp"
#include "reporting/agent_statistics.hpp"

namespace tamro {

// One device as the metrics show it.
struct device_sample {
  std::string address;
  bool up = false;                             // its last SNMP request was answered
  std::optional<double> last_success_seconds;  // Unix time of its last delivered heartbeat
  double poll_seconds = 0;                     // how long its last SNMP request took
};

// The Prometheus text exposition (version 0.0.4) of the devices and the counters.
std::string metrics_text(const std::vector<device_sample>& devices,
                         const agent_statistics& statistics);

// GET /metrics: the text metrics() renders; GET /health: "ok" while healthy, else 503;
// 404 and 405 for anything else.
metrics_connection::response answer_metrics_request(const metrics_connection::request& request,
                                                    const std::function<std::string()>& metrics,
                                                    bool healthy);

}  // namespace tamro
