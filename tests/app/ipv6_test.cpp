// The agent on IPv6 alone: a device on udp6:[::1], the server at an https URL with an IPv6
// literal, the metrics on [::1] and an IPv6 address of its own.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <csignal>

#include "tests/app/agent_files.hpp"
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

TEST(Ipv6, DevicesServerAndMetricsOverIpv6) {
  if (!has_ipv6_loopback()) GTEST_SKIP() << "this host has no IPv6 loopback (::1)";
  snmpd_options options;
  options.listen_address = "::1";
  options.client_network = "::1/128";
  snmpd device_agent(options);
  temp_dir server_dir;
  const test_pki pki = make_test_pki(server_dir);
  management_server server(server_dir, pki.ip_host, "::1");

  agent_files files;
  const unsigned short metrics_port = free_port(SOCK_STREAM);
  files.server_uri = server.url();
  files.agent_extra = "<ca-file>" + pki.ca_certificate +
                      "</ca-file><metrics-listen>[::1]:" + std::to_string(metrics_port) +
                      "</metrics-listen>";
  files.reporting =
      "<ip-address>2001:DB8:0:0::5</ip-address><mac-address>00:1A:2B:3C:4D:5E</mac-address>";
  // Written long-hand: the agent knows the device by the canonical form.
  files.poll_one_device("0:0:0:0:0:0:0:1", device_agent.port());
  files.write();
  child_process tamro({TAMRO_FAST_TICK_BINARY, "-f", "-c", files.configuration_file()},
                      files.home.file("out"), {{"TAMRO_TEST_TICK_MS", "200"}});

  const auto delivered = [&](const std::string& address) {
    for (const auto& request : server.requests())
      if (contains(request.body, "ip=\"" + address + "\"")) return true;
    return false;
  };
  ASSERT_TRUE(wait_until([&] { return delivered("::1") && delivered("2001:db8::5"); }, 15s))
      << files.log() << server.output();

  std::string metrics;
  EXPECT_TRUE(wait_until(
      [&] {
        metrics = get(metrics_port, "/metrics", "::1");
        return contains(metrics, "tamro_device_up{device=\"::1\"} 1\n");
      },
      10s))
      << metrics;

  // The server's interval (300 s) is written back under the device's key.
  std::string saved;
  EXPECT_TRUE(wait_until(
      [&] {
        saved = read_file(files.home.file("devices.xml"));
        return contains(saved, "<heartbeat-interval>300</heartbeat-interval>");
      },
      10s))
      << saved;
  EXPECT_TRUE(contains(saved, "<ip-address>::1</ip-address>")) << saved;
  EXPECT_TRUE(contains(saved, "<udp-port>" + std::to_string(device_agent.port()) + "</udp-port>"))
      << saved;
  EXPECT_FALSE(contains(files.log(), "[E]")) << files.log();

  tamro.signal(SIGTERM);
  EXPECT_EQ(tamro.wait(20s), 0) << tamro.output();
}

}  // namespace
}  // namespace tamro::test
