// The metrics endpoint scraped while the agent polls a device and posts to the server.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <csignal>

#include "app/metrics/metrics_page.hpp"
#include "app/metrics/metrics_server.hpp"
#include "tests/app/agent_files.hpp"
#include "tests/support/agent_support.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/snmpd.hpp"

namespace tamro::test {
namespace {

using namespace std::chrono_literals;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The whole answer, headers and body, to one request sent as it is.
std::string send_raw(unsigned short port, const std::string& request) {
  boost::asio::io_context io;
  boost::asio::ip::tcp::socket socket(io);
  boost::system::error_code error;
  socket.connect({boost::asio::ip::make_address("127.0.0.1"), port}, error);
  if (error) return "";
  boost::asio::write(socket, boost::asio::buffer(request), error);
  std::string answer;
  boost::asio::read(socket, boost::asio::dynamic_buffer(answer), error);
  return answer;
}

std::string get(unsigned short port, const std::string& path) {
  return send_raw(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

TEST(Metrics, ScrapedDuringARunTheyShowTheDevicesAndThePosts) {
  snmpd device_agent;
  temp_dir server_dir;
  management_server server{server_dir};
  agent_files files;
  const unsigned short port = free_port(SOCK_STREAM);
  files.server_uri = server.url();
  files.agent_extra = "<metrics-listen>127.0.0.1:" + std::to_string(port) + "</metrics-listen>";
  files.mappings =
      "<mappings><mapping><name>system</name><mappers><variable><name>SYS_NAME</name>"
      "<oid>.1.3.6.1.2.1.1.5.0</oid></variable></mappers></mapping></mappings>";
  files.devices = "<devices><device><ip-address>127.0.0.1</ip-address><udp-port>" +
                  std::to_string(device_agent.port()) +
                  "</udp-port><community>public</community><snmp-version>v2c</snmp-version>"
                  "<mapping-name>system</mapping-name><heartbeat-interval>1</heartbeat-interval>"
                  "</device></devices>";
  files.write();
  child_process tamro({TAMRO_FAST_TICK_BINARY, "-f", "-c", files.configuration_file()},
                      files.home.file("out"), {{"TAMRO_TEST_TICK_MS", "200"}});

  std::string metrics;
  ASSERT_TRUE(wait_until(
      [&] {
        metrics = get(port, "/metrics");
        // The device's heartbeat delivered, not only the status reporter's.
        return contains(metrics, "tamro_device_up{device=\"127.0.0.1\"} 1\n") &&
               contains(metrics, "tamro_device_last_success_timestamp_seconds{device=");
      },
      15s))
      << metrics << files.log();
  for (const char* line : {"HTTP/1.1 200 OK\r\n", "Content-Type: text/plain; version=0.0.4\r\n",
                           "tamro_build_info{version=\"1.0.2.48224\"} 1\n", "tamro_devices 1\n",
                           "tamro_device_last_success_timestamp_seconds{device=\"127.0.0.1\"} ",
                           "tamro_device_poll_duration_seconds{device=\"127.0.0.1\"} ",
                           "tamro_snmp_requests_total{result=\"timeout\"} 0\n",
                           "tamro_heartbeats_total{result=\"error\"} 0\n",
                           "# TYPE tamro_heartbeat_post_duration_seconds histogram\n",
                           "tamro_heartbeat_post_duration_seconds_bucket{le=\"+Inf\"} "})
    EXPECT_TRUE(contains(metrics, line)) << line << "\n" << metrics;

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
    EXPECT_EQ(contains(check.output, std::string("[W] ") + files.configuration_file() +
                                         ": agent/metrics-listen: " + e.listen +
                                         " can be reached from other hosts"),
              e.warned)
        << check.output;
  }
}

TEST(Metrics, LabelValuesAreEscaped) {
  device_sample odd;
  odd.address = "a\"b\\c\nd";
  const std::string text = metrics_text({odd}, agent_statistics{});
  EXPECT_TRUE(contains(text, "tamro_device_up{device=\"a\\\"b\\\\c\\nd\"} 0\n")) << text;
  EXPECT_FALSE(contains(text, "tamro_device_last_success_timestamp_seconds{"));
}

}  // namespace
}  // namespace tamro::test
