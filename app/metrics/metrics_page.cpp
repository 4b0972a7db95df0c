#include "app/metrics/metrics_page.hpp"

#include <cstdio>

#include "app/version.hpp"

namespace tamro {
namespace {

namespace http = boost::beast::http;

// A label value in double quotes: backslash, double quote and line feed escaped.
std::string label(const std::string& value) {
  std::string text = "\"";
  for (const char c : value) {
    if (c == '\\' || c == '"') text += '\\';
    if (c == '\n') {
      text += "\\n";
      continue;
    }
    text += c;
  }
  return text + "\"";
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

void family(std::string& text, const char* name, const char* type, const char* help) {
  text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

std::string metrics_text(const std::vector<device_sample>& devices,
                         const agent_statistics& statistics) {
  std::string text;
  family(text, "tamro_build_info", "gauge", "The running agent's version.");
  text += "tamro_build_info{version=" + label(product_version) + "} 1\n";
  family(text, "tamro_devices", "gauge", "Devices being polled.");
  text += "tamro_devices " + std::to_string(devices.size()) + "\n";

  family(text, "tamro_device_up", "gauge", "1 when the device answered its last SNMP request.");
  for (const auto& device : devices)
    text +=
        "tamro_device_up{device=" + label(device.address) + "} " + (device.up ? "1" : "0") + "\n";
  family(text, "tamro_device_last_success_timestamp_seconds", "gauge",
         "When the device's last heartbeat was delivered.");
  for (const auto& device : devices)
    if (device.last_success_seconds)
      text += "tamro_device_last_success_timestamp_seconds{device=" + label(device.address) + "} " +
              number(*device.last_success_seconds) + "\n";
  family(text, "tamro_device_poll_duration_seconds", "gauge",
         "How long the device's last SNMP request took.");
  for (const auto& device : devices)
    text += "tamro_device_poll_duration_seconds{device=" + label(device.address) + "} " +
            number(device.poll_seconds) + "\n";

  family(text, "tamro_snmp_requests_total", "counter", "SNMP requests by how they ended.");
  text += "tamro_snmp_requests_total{result=\"ok\"} " + std::to_string(statistics.snmp_answered) +
          "\ntamro_snmp_requests_total{result=\"timeout\"} " +
          std::to_string(statistics.snmp_timed_out) +
          "\ntamro_snmp_requests_total{result=\"error\"} " +
          std::to_string(statistics.snmp_failed) + "\n";
  family(text, "tamro_heartbeats_total", "counter", "Heartbeat posts by how they ended.");
  text += "tamro_heartbeats_total{result=\"ok\"} " +
          std::to_string(statistics.heartbeats_delivered) +
          "\ntamro_heartbeats_total{result=\"error\"} " +
          std::to_string(statistics.heartbeats_failed) + "\n";

  const auto& posts = statistics.post_duration;
  family(text, "tamro_heartbeat_post_duration_seconds", "histogram",
         "How long heartbeat posts took, delivered or not.");
  for (std::size_t i = 0; i < posts.bounds.size(); ++i)
    text += "tamro_heartbeat_post_duration_seconds_bucket{le=\"" + number(posts.bounds[i]) +
            "\"} " + std::to_string(posts.counts[i]) + "\n";
  text += "tamro_heartbeat_post_duration_seconds_bucket{le=\"+Inf\"} " +
          std::to_string(posts.count) + "\ntamro_heartbeat_post_duration_seconds_sum " +
          number(posts.sum) + "\ntamro_heartbeat_post_duration_seconds_count " +
          std::to_string(posts.count) + "\n";
  return text;
}

metrics_connection::response answer_metrics_request(const metrics_connection::request& request,
                                                    const std::function<std::string()>& metrics,
                                                    bool healthy) {
  metrics_connection::response response;
  response.version(request.version());
  response.set(http::field::content_type, "text/plain; charset=utf-8");
  const auto target = request.target();
  if (target != "/metrics" && target != "/health") {
    response.result(http::status::not_found);
    response.body() = "not found: /metrics and /health are served\n";
  } else if (request.method() != http::verb::get) {
    response.result(http::status::method_not_allowed);
    response.set(http::field::allow, "GET, HEAD");
    response.body() = "only GET\n";
  } else if (target == "/health") {
    response.result(healthy ? http::status::ok : http::status::service_unavailable);
    response.body() = healthy ? "ok" : "the main loop has not ticked for too long";
  } else {
    response.result(http::status::ok);
    response.set(http::field::content_type, "text/plain; version=0.0.4");
    response.body() = metrics();
  }
  return response;
}

}  // namespace tamro
