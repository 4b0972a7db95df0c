#include "app/metrics/metrics_page.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
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

// The shortest decimal that reads back as the same double, without an exponent: a scraper
// parses it to the value the agent had.
std::string number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  std::array<char, 400> text;  // the largest double has 309 digits
  const auto written =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  return std::string(text.data(), written.ptr);
}

std::string number(std::uint64_t value) { return std::to_string(value); }

// Unix seconds to the millisecond, in decimals from whole milliseconds: no rounding on the
// way, however far the clock is from 1970.
std::string number(device_sample::time_point time) {
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  if (milliseconds < 0) return number(static_cast<double>(milliseconds) / 1000);
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(milliseconds % 1000));
  return std::to_string(milliseconds / 1000) + fraction;
}

class page {
 public:
  void family(const char* name, const char* type, const char* help) {
    text_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }
  void sample(const std::string& series, const std::string& value) {
    text_ += series + " " + value + "\n";
  }
  // A family of one sample, left out when there is no value.
  template <class Value>
  void single(const char* name, const char* type, const char* help,
              const std::optional<Value>& value) {
    if (!value) return;
    family(name, type, help);
    sample(name, number(*value));
  }
  std::string text() && { return std::move(text_); }

 private:
  std::string text_;
};

void device_families(page& out, const std::vector<device_sample>& devices) {
  const auto series = [](const char* name, const device_sample& device) {
    return std::string(name) + "{device=" + label(device.address) + "}";
  };
  // A device not polled yet is neither up nor down.
  out.family("tamro_device_up", "gauge", "1 when the device answered its last SNMP request.");
  for (const auto& device : devices)
    if (device.poll_seconds) out.sample(series("tamro_device_up", device), device.up ? "1" : "0");
  out.family("tamro_device_last_success_timestamp_seconds", "gauge",
             "When the device's last heartbeat was delivered.");
  for (const auto& device : devices)
    if (device.last_success)
      out.sample(series("tamro_device_last_success_timestamp_seconds", device),
                 number(*device.last_success));
  out.family("tamro_device_poll_duration_seconds", "gauge",
             "How long the device's last SNMP request took.");
  for (const auto& device : devices)
    if (device.poll_seconds)
      out.sample(series("tamro_device_poll_duration_seconds", device),
                 number(*device.poll_seconds));
}

void counter_families(page& out, const agent_statistics& statistics) {
  out.family("tamro_snmp_requests_total", "counter", "SNMP requests by how they ended.");
  out.sample("tamro_snmp_requests_total{result=\"ok\"}", number(statistics.snmp_answered));
  out.sample("tamro_snmp_requests_total{result=\"timeout\"}", number(statistics.snmp_timed_out));
  out.sample("tamro_snmp_requests_total{result=\"error\"}", number(statistics.snmp_failed));
  out.family("tamro_heartbeats_total", "counter", "Heartbeat posts by how they ended.");
  out.sample("tamro_heartbeats_total{result=\"ok\"}", number(statistics.heartbeats_delivered));
  out.sample("tamro_heartbeats_total{result=\"error\"}", number(statistics.heartbeats_failed));
  out.family("tamro_heartbeat_retries_total", "counter",
             "Heartbeats sent again on a new connection after a kept one failed before the reply.");
  out.sample("tamro_heartbeat_retries_total", number(statistics.heartbeat_retries));

  const auto& posts = statistics.post_duration;
  const std::string histogram = "tamro_heartbeat_post_duration_seconds";
  out.family(histogram.c_str(), "histogram", "How long heartbeat posts took, delivered or not.");
  for (std::size_t i = 0; i < posts.bounds.size(); ++i)
    out.sample(histogram + "_bucket{le=\"" + number(posts.bounds[i]) + "\"}",
               number(posts.counts[i]));
  out.sample(histogram + "_bucket{le=\"+Inf\"}", number(posts.count));
  out.sample(histogram + "_sum", number(posts.sum));
  out.sample(histogram + "_count", number(posts.count));
}

void process_families(page& out, const process_sample& process) {
  out.single("process_cpu_seconds_total", "counter",
             "Total user and system CPU time spent in seconds.", process.cpu_seconds);
  out.single("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.",
             process.resident_bytes);
  out.single("process_open_fds", "gauge", "Number of open file descriptors.", process.open_fds);
  out.single("process_max_fds", "gauge", "Maximum number of open file descriptors.",
             process.max_fds);
  out.single("process_start_time_seconds", "gauge",
             "Start time of the process since unix epoch in seconds.", process.start_time_seconds);
}

}  // namespace

std::string metrics_text(const metrics_snapshot& snapshot) {
  page out;
  out.family("tamro_build_info", "gauge", "The running agent's version.");
  out.sample("tamro_build_info{version=" + label(product_version) + "}", "1");
  out.family("tamro_devices", "gauge", "Devices being polled.");
  out.sample("tamro_devices", number(static_cast<std::uint64_t>(snapshot.devices.size())));
  device_families(out, snapshot.devices);
  counter_families(out, snapshot.statistics);
  out.single("tamro_status_last_success_timestamp_seconds", "gauge",
             "When the status reporter's last heartbeat was delivered.",
             snapshot.status_last_success);

  out.family("tamro_config_last_reload_successful", "gauge",
             "1 when the last load of the configuration succeeded.");
  out.sample("tamro_config_last_reload_successful", snapshot.last_reload_successful ? "1" : "0");
  out.single("tamro_config_last_reload_success_timestamp_seconds", "gauge",
             "When the configuration was last loaded, at the start or by a reload.",
             snapshot.last_reload_success);
  process_families(out, snapshot.process);
  return std::move(out).text();
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
