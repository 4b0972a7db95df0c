// The agent with fifty SNMPv3 devices that never answer beside one that does, against snmpd
// and the management-server simulator.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <csignal>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/agent_files.hpp"
#include "tests/support/agent_support.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/snmpd.hpp"

namespace tamro::test {
namespace {

using clock_type = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string answering = "127.0.9.1";

std::string v3_device(const std::string& address, unsigned short port) {
  return "<device><ip-address>" + address + "</ip-address><udp-port>" + std::to_string(port) +
         "</udp-port><snmp-version>v3</snmp-version><security-name>fleet-user</security-name>"
         "<auth-passphrase>auth-secret-1</auth-passphrase><privacy-passphrase>priv-secret-1"
         "</privacy-passphrase><mapping-name>fleet</mapping-name>"
         "<heartbeat-interval>1</heartbeat-interval></device>";
}

long long milliseconds(clock_type::duration duration) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

// Devices that sort before the answering one and never answer (a socket that is not read),
// an SNMP time-out of 2 s, and a server that asks every agent to report every second.
struct silent_fleet {
  snmpd device{[] {
    snmpd_options options;
    options.listen_address = "0.0.0.0";  // the answering device's address is 127.0.9.1
    options.extra_lines = {"createUser fleet-user SHA \"auth-secret-1\" AES \"priv-secret-1\"",
                           "rouser fleet-user priv"};
    return options;
  }()};
  boost::asio::io_context io;
  boost::asio::ip::udp::socket silent{
      io, boost::asio::ip::udp::endpoint(boost::asio::ip::address_v4::any(), 0)};
  temp_dir server_dir;
  management_server server{server_dir};
  agent_files files;

  silent_fleet() {
    files.server_uri = server.url();
    files.snmp = "<timeout>2</timeout>";
    files.mappings =
        "<mappings><mapping><name>fleet</name><mappers><variable><name>SYS_NAME</name>"
        "<oid>.1.3.6.1.2.1.1.5.0</oid></variable></mappers></mapping></mappings>";
    files.devices = "<devices>";
    for (int i = 1; i <= 50; ++i)
      files.devices += v3_device("127.0.1." + std::to_string(i), silent.local_endpoint().port());
    files.devices += v3_device(answering, device.port()) + "</devices>";
    server.script("{\"interval\": 1}");
    files.write();
  }
};

TEST(SilentDevicesEndToEnd, OnceEndsWithinTwoTimeOuts) {
  silent_fleet fleet;
  const auto started = clock_type::now();
  child_process once({TAMRO_FAST_TICK_BINARY, "--once", "-c", fleet.files.configuration_file()},
                     fleet.files.home.file("once.out"));
  const auto code = once.wait(120s);
  EXPECT_LT(milliseconds(clock_type::now() - started), 4000);
  EXPECT_EQ(code, 1) << "the silent devices are named as failures";
  EXPECT_NE(once.output().find("ip=\"" + answering + "\""), std::string::npos) << once.output();
}

// Each tick, the answering device's heartbeat and the status heartbeat are through within a
// second, though fifty discoveries time out meanwhile.
TEST(SilentDevicesEndToEnd, EveryTickTheOthersDeliverWithinASecond) {
  silent_fleet fleet;
  child_process tamro({TAMRO_FAST_TICK_BINARY, "-f", "-c", fleet.files.configuration_file()},
                      fleet.files.home.file("out"), {{"TAMRO_TEST_TICK_MS", "3000"}});
  // When each line of the log was first seen.
  std::vector<std::pair<std::string, clock_type::time_point>> lines;
  std::size_t read = 0;
  const auto deadline = clock_type::now() + 8s;
  while (clock_type::now() < deadline && tamro.running()) {
    const std::string text = read_file(fleet.files.log_file());
    for (auto end = text.find('\n', read); end != std::string::npos;
         read = end + 1, end = text.find('\n', read))
      lines.emplace_back(text.substr(read, end - read), clock_type::now());
    std::this_thread::sleep_for(10ms);
  }
  tamro.signal(SIGTERM);
  EXPECT_EQ(tamro.wait(10s), 0) << tamro.output();

  const auto first_after = [&](std::size_t from, const std::string& message) {
    for (std::size_t i = from; i < lines.size(); ++i)
      if (lines[i].first.find(message) != std::string::npos) return i;
    return lines.size();
  };
  int ticks = 0;
  for (std::size_t tick = first_after(0, "--- timer event ---"); tick < lines.size();
       tick = first_after(tick + 1, "--- timer event ---")) {
    // A tick less than a second before the end is not judged.
    if (lines.back().second - lines[tick].second < 1s) break;
    ++ticks;
    for (const std::string& agent : {answering, std::string("<status reporter>")}) {
      const auto delivered = first_after(tick, agent + " - HTTP response received");
      ASSERT_LT(delivered, lines.size()) << agent << " after tick " << ticks;
      EXPECT_LT(milliseconds(lines[delivered].second - lines[tick].second), 1000)
          << agent << " after tick " << ticks;
    }
  }
  EXPECT_GE(ticks, 2);
}

}  // namespace
}  // namespace tamro::test
