// The metrics endpoint scraped while the agent polls a device and posts to the server.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <csignal>

#include "app/metrics/metrics_page.hpp"
#include "app/metrics/metrics_server.hpp"
#include "tests/app/agent_files.hpp"
#include "tests/app/exposition_reader.hpp"
#include "tests/app/scrape.hpp"
#include "tests/support/agent_support.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/snmpd.hpp"

namespace tamro::test {
namespace {

using namespace std::chrono_literals;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

double unix_seconds(std::chrono::system_clock::time_point time) {
  return std::chrono::duration<double>(time.time_since_epoch()).count();
}

std::chrono::system_clock::time_point at_milliseconds(long long milliseconds) {
  return std::chrono::system_clock::time_point(std::chrono::milliseconds(milliseconds));
}

TEST(Metrics, ScrapedDuringARunTheyShowTheDevicesAndThePosts) {
  snmpd device_agent;
  temp_dir server_dir;
  management_server server{server_dir};
  agent_files files;
  const unsigned short port = free_port(SOCK_STREAM);
  files.server_uri = server.url();
  files.agent_extra = "<metrics-listen>127.0.0.1:" + std::to_string(port) + "</metrics-listen>";
  files.poll_one_device("127.0.0.1", device_agent.port());
  files.write();
  child_process tamro({TAMRO_FAST_TICK_BINARY, "-f", "-c", files.configuration_file()},
                      files.home.file("out"), {{"TAMRO_TEST_TICK_MS", "200"}});

  const double started = unix_seconds(std::chrono::system_clock::now());
  std::string metrics;
  ASSERT_TRUE(wait_until(
      [&] {
        metrics = get(port, "/metrics");
        // The device's heartbeat delivered, and the status reporter's.
        return contains(metrics, "tamro_device_up{device=\"127.0.0.1\"} 1\n") &&
               contains(metrics, "tamro_device_last_success_timestamp_seconds{device=") &&
               contains(metrics, "tamro_status_last_success_timestamp_seconds ");
      },
      15s))
      << metrics << files.log();
  const double scraped = unix_seconds(std::chrono::system_clock::now());
  for (const char* line : {"HTTP/1.1 200 OK\r\n", "Content-Type: text/plain; version=0.0.4\r\n",
                           "tamro_build_info{version=\"1.0.2.48224\"} 1\n", "tamro_devices 1\n",
                           "tamro_device_last_success_timestamp_seconds{device=\"127.0.0.1\"} ",
                           "tamro_device_poll_duration_seconds{device=\"127.0.0.1\"} ",
                           "tamro_snmp_requests_total{result=\"timeout\"} 0\n",
                           "tamro_heartbeats_total{result=\"error\"} 0\n",
                           "# TYPE tamro_heartbeat_post_duration_seconds histogram\n",
                           "tamro_heartbeat_post_duration_seconds_bucket{le=\"+Inf\"} "})
    EXPECT_TRUE(contains(metrics, line)) << line << "\n" << metrics;

  // What a scraper reads is what happened, to the millisecond.
  const exposition page = read_exposition(body(metrics));
  const auto within_run = [&](const std::string& series, double slack) {
    const double value = page.value(series);
    EXPECT_TRUE(value >= started - slack && value <= scraped) << series << " " << value;
  };
  within_run("tamro_device_last_success_timestamp_seconds{device=\"127.0.0.1\"}", 0);
  within_run("tamro_status_last_success_timestamp_seconds", 0);
  within_run("tamro_config_last_reload_success_timestamp_seconds", 0);
  // The process started a little before the test looked at the clock; the system counts its
  // start from a boot time in whole seconds.
  within_run("process_start_time_seconds", 10);
  EXPECT_EQ(page.value("tamro_config_last_reload_successful"), 1);
  EXPECT_GE(page.value("tamro_heartbeats_total{result=\"ok\"}"), 2);
  EXPECT_GT(page.value("process_resident_memory_bytes"), 0);
  EXPECT_GT(page.value("process_open_fds"), 0);
  EXPECT_GE(page.value("process_max_fds"), page.value("process_open_fds"));
  EXPECT_EQ(page.types.at("process_cpu_seconds_total"), "counter");

  const std::string health = get(port, "/health");
  EXPECT_TRUE(contains(health, "HTTP/1.1 200 OK\r\n") &&
              health.substr(health.size() - 4) == "\r\nok")
      << health;
  EXPECT_TRUE(contains(get(port, "/other"), "HTTP/1.1 404 Not Found\r\n"));
  // A request bigger than any scrape is refused without an answer; the endpoint goes on.
  EXPECT_FALSE(contains(send_raw(port, "GET /metrics HTTP/1.1\r\nX-Padding: " +
                                           std::string(16 * 1024, 'x') + "\r\n\r\n"),
                        "200 OK"));
  EXPECT_TRUE(contains(get(port, "/health"), "200 OK"));

  tamro.signal(SIGTERM);
  EXPECT_EQ(tamro.wait(20s), 0) << tamro.output();
}

TEST(Metrics, IdleClientsAreDroppedAndHeadIsAnsweredAsGet) {
  agent_files files;
  const unsigned short port = free_port(SOCK_STREAM);
  files.agent_extra = "<metrics-listen>127.0.0.1:" + std::to_string(port) + "</metrics-listen>";
  files.write();
  child_process tamro({TAMRO_FAST_TICK_BINARY, "-f", "-c", files.configuration_file()},
                      files.home.file("out"), {{"TAMRO_TEST_TICK_MS", "200"}});
  ASSERT_TRUE(wait_until([&] { return contains(get(port, "/health"), "200 OK"); }, 15s))
      << files.log();

  // More clients than the endpoint holds, none of them saying a word.
  boost::asio::io_context io;
  std::vector<boost::asio::ip::tcp::socket> idle;
  for (std::size_t i = 0; i < metrics_server::most_connections + 16; ++i) {
    idle.emplace_back(io);
    boost::system::error_code error;
    idle.back().connect({boost::asio::ip::make_address("127.0.0.1"), port}, error);
    ASSERT_FALSE(error) << error.message();
  }
  // They do not keep a scrape out for long, and each of them is closed.
  EXPECT_TRUE(wait_until([&] { return contains(get(port, "/metrics"), "200 OK"); }, 8s));
  for (auto& socket : idle) {
    char byte;
    boost::system::error_code error;
    socket.read_some(boost::asio::buffer(&byte, 1), error);
    EXPECT_EQ(error, boost::asio::error::eof);
  }

  const std::string head = send_raw(port, "HEAD /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_TRUE(contains(head, "HTTP/1.1 200 OK\r\n")) << head;
  EXPECT_TRUE(contains(head, "Content-Type: text/plain; version=0.0.4\r\n")) << head;
  EXPECT_FALSE(contains(head, "Content-Length: 0\r\n")) << head;
  EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n") << "no body: " << head;
  const std::string post = send_raw(port, "POST /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_TRUE(contains(post, "405 Method Not Allowed\r\n") && contains(post, "Allow: GET, HEAD"))
      << post;

  tamro.signal(SIGTERM);
  EXPECT_EQ(tamro.wait(20s), 0) << tamro.output();
}

// Allowed, as a scraper elsewhere may need it, but said at every load and by the check.
TEST(Metrics, AnEndpointOtherHostsCanReachIsWarnedAbout) {
  struct endpoint {
    const char* listen;
    bool warned;
  };
  for (const endpoint& e : {endpoint{"0.0.0.0:9117", true}, endpoint{"[::]:9117", true},
                            endpoint{"192.0.2.1:9117", true}, endpoint{"127.0.0.1:9117", false},
                            endpoint{"[::1]:9117", false}, endpoint{"127.3.0.1:9117", false}}) {
    agent_files files;
    files.agent_extra = std::string("<metrics-listen>") + e.listen + "</metrics-listen>";
    files.write();
    const auto check = run_tamro(files, {"--check"});
    EXPECT_EQ(check.exit_code, 0) << check.output;
    EXPECT_TRUE(contains(check.output, " is OK: ")) << check.output;
    EXPECT_EQ(contains(check.output, "warning: " + files.configuration_file() +
                                         ": agent/metrics-listen: " + e.listen +
                                         " can be reached from other hosts"),
              e.warned)
        << check.output;
  }
}

// Values a float printed with six digits would round, and one device of each kind.
metrics_snapshot sample_snapshot() {
  metrics_snapshot snapshot;
  device_sample polled;
  polled.address = "10.0.0.1";
  polled.poll_seconds = 0.0123;
  polled.up = true;
  polled.last_success = at_milliseconds(1796783123456);
  device_sample waiting;  // not polled yet
  waiting.address = "::1";
  device_sample odd;
  odd.address = "a\"b\\c\nd";
  odd.poll_seconds = 2.5;
  snapshot.devices = {polled, waiting, odd};
  snapshot.statistics.snmp_answered = 9007199254740993;  // 2^53 + 1: no double holds it
  snapshot.statistics.heartbeats_delivered = 123456789012;
  snapshot.statistics.post_duration.observe(0.003);
  snapshot.statistics.post_duration.observe(0.7);
  snapshot.process.cpu_seconds = 12.345678;
  snapshot.process.resident_bytes = 1234567890123;
  snapshot.process.open_fds = 17;
  snapshot.process.max_fds = 1048576;
  snapshot.process.start_time_seconds = 1796780000.25;
  snapshot.last_reload_successful = false;
  snapshot.last_reload_success = at_milliseconds(1796783000001);
  snapshot.status_last_success = at_milliseconds(1796783124000);
  return snapshot;
}

TEST(Metrics, ThePageReadsBackExactlyAsStrictlyParsed) {
  const exposition page = read_exposition(metrics_text(sample_snapshot()));
  for (const auto& [series, value] : std::vector<std::pair<std::string, std::string>>{
           {"tamro_devices", "3"},
           {"tamro_device_up{device=\"10.0.0.1\"}", "1"},
           {"tamro_device_up{device=\"a\\\"b\\\\c\\nd\"}", "0"},
           {"tamro_device_last_success_timestamp_seconds{device=\"10.0.0.1\"}", "1796783123.456"},
           {"tamro_snmp_requests_total{result=\"ok\"}", "9007199254740993"},
           {"tamro_heartbeats_total{result=\"ok\"}", "123456789012"},
           {"tamro_heartbeat_post_duration_seconds_bucket{le=\"0.005\"}", "1"},
           {"tamro_heartbeat_post_duration_seconds_bucket{le=\"+Inf\"}", "2"},
           {"tamro_status_last_success_timestamp_seconds", "1796783124.000"},
           {"tamro_config_last_reload_successful", "0"},
           {"tamro_config_last_reload_success_timestamp_seconds", "1796783000.001"},
           {"process_resident_memory_bytes", "1234567890123"},
           {"process_open_fds", "17"},
           {"process_max_fds", "1048576"}})
    EXPECT_EQ(page.samples.count(series) ? page.samples.at(series) : "(absent)", value) << series;
  // Fractions as the shortest text that reads back as the same double.
  EXPECT_EQ(page.value("tamro_device_poll_duration_seconds{device=\"10.0.0.1\"}"), 0.0123);
  EXPECT_EQ(page.value("tamro_heartbeat_post_duration_seconds_sum"), 0.003 + 0.7);
  EXPECT_EQ(page.value("process_cpu_seconds_total"), 12.345678);
  EXPECT_EQ(page.value("process_start_time_seconds"), 1796780000.25);
  // A device not polled yet is neither up nor down.
  EXPECT_FALSE(page.has("tamro_device_up{device=\"::1\"}"));
  EXPECT_FALSE(page.has("tamro_device_poll_duration_seconds{device=\"::1\"}"));
  EXPECT_FALSE(page.has("tamro_device_last_success_timestamp_seconds{device=\"::1\"}"));

  // What the system does not tell, and a reporter that has delivered nothing, are left out.
  metrics_snapshot bare;
  const exposition empty = read_exposition(metrics_text(bare));
  for (const char* family : {"tamro_status_last_success_timestamp_seconds",
                             "tamro_config_last_reload_success_timestamp_seconds",
                             "process_cpu_seconds_total", "process_open_fds"})
    EXPECT_FALSE(empty.types.count(family)) << family;
  EXPECT_EQ(empty.value("tamro_config_last_reload_successful"), 1);
}

TEST(Metrics, TheReaderRefusesWhatTheFormatDoesNot) {
  const std::string family = "# TYPE a gauge\n";
  for (const std::string& text : std::vector<std::string>{
           "a 1\n",                                                       // no TYPE
           family + "a 1",                                                // no final line end
           family + "a 1,5\n",                                            // not a float
           family + "a 1.79678e+09x\n",                                   // nor this
           family + "a{l=\"\\t\"} 1\n",                                   // an escape not allowed
           family + "a{l=1} 1\n",                                         // unquoted label value
           family + "a 1\na 2\n",                                         // the same series twice
           family + "a{l=\"x\"} 1\n# TYPE b gauge\nb 1\na{l=\"y\"} 1\n",  // a apart
           "# TYPE c counter\nc -1\n",                                    // a counter below zero
           "# TYPE h histogram\nh_bucket{le=\"1\"} 1\nh_sum 1\nh_count 1\n",  // no +Inf
       })
    EXPECT_THROW(read_exposition(text), std::runtime_error) << text;
  EXPECT_NO_THROW(read_exposition(family + "a{l=\"x\",} 1.5e3 1700000000000\n"));
}

// promtool is Prometheus's own checker: where it is installed, it reads the page too.
TEST(Metrics, PromtoolAcceptsThePage) {
  if (std::string(TAMRO_PROMTOOL).empty()) GTEST_SKIP() << "promtool is not installed";
  temp_dir dir;
  write_file(dir.file("metrics.txt"), metrics_text(sample_snapshot()));
  child_process check({"/bin/sh", "-c",
                       std::string(TAMRO_PROMTOOL) + " check metrics < " + dir.file("metrics.txt")},
                      dir.file("out"));
  EXPECT_EQ(check.wait(30s), 0) << check.output();
}

}  // namespace
}  // namespace tamro::test
