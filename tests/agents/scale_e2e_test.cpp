// Two thousand devices through the whole agent, against one snmpd answering on every loopback
// address and the management-server simulator.
#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <chrono>
#include <csignal>
#include <set>
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

using namespace std::chrono_literals;

constexpr int device_count = 2000;
const std::string sys_descr = ".1.3.6.1.2.1.1.1.0";
const std::string sys_name = ".1.3.6.1.2.1.1.5.0";

std::string address(int index) {
  return "127.1." + std::to_string(index / 250) + "." + std::to_string(index % 250 + 1);
}

// The device addresses of the heartbeats the server printed so far: a text search, as the
// output grows to megabytes and is read again at every poll.
std::set<std::string> posted_addresses(const std::string& output) {
  const std::string open = "<ip-address>", close = "</ip-address>";
  std::set<std::string> out;
  for (auto at = output.find(open + "127.1."); at != std::string::npos;
       at = output.find(open + "127.1.", at + 1)) {
    const auto start = at + open.size(), end = output.find(close, start);
    if (end == std::string::npos) break;  // being written
    out.insert(output.substr(start, end - start));
  }
  return out;
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string tail(const std::string& text, int lines) {
  auto at = text.size();
  while (lines-- >= 0 && at != std::string::npos && at > 0) at = text.rfind('\n', at - 1);
  return at == std::string::npos ? text : text.substr(at + 1);
}

TEST(ScaleEndToEnd, EveryOneOfTwoThousandDevicesDeliversItsHeartbeat) {
  snmpd_options everywhere;
  everywhere.listen_address = "0.0.0.0";
  // A burst of 2,000 requests overflows the default receive buffer.
  everywhere.extra_lines = {"[snmp] serverRecvBuf 8388608"};
  const snmpd device(everywhere);
  temp_dir server_dir;
  const management_server server(server_dir);
  server.script("{\"interval\": 300}");  // one post per device during the test

  agent_files files;
  files.server_uri = server.url();
  files.logging = "<level>info</level>";
  files.snmp = "<timeout>2</timeout>";
  const auto variable = [](const std::string& name, const std::string& oid) {
    return "<variable><name>" + name + "</name><oid>" + oid + "</oid></variable>";
  };
  files.mappings = "<mappings><mapping><name>scale</name><mappers>" +
                   variable("SYS_NAME", sys_name) + variable("SYS_DESCR", sys_descr) +
                   "</mappers></mapping></mappings>";
  // An interval under the 30 s of a first-heartbeat slot: every device is due at once, or
  // 2 s after the start when its slot is the first.
  std::set<std::string> expected;
  files.devices = "<devices>";
  for (int i = 0; i < device_count; ++i) {
    expected.insert(address(i));
    files.devices += "<device><ip-address>" + address(i) + "</ip-address><udp-port>" +
                     std::to_string(device.port()) +
                     "</udp-port><snmp-version>v2c</snmp-version><community>public</community>"
                     "<mapping-name>scale</mapping-name><heartbeat-interval>2</heartbeat-interval>"
                     "</device>";
  }
  files.devices += "</devices>";
  files.write();
  write_file(files.home.file("heartbeat.xml"),
             read_file(std::string(TAMRO_SOURCE_DIR) + "/etc/heartbeat.xml"));

  // A short tick retries soon a device whose request or post was lost.
  child_process tamro({TAMRO_FAST_TICK_BINARY, "-f", "-c", files.configuration_file()},
                      files.home.file("out"), {{"TAMRO_TEST_TICK_MS", "500"}});
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  std::set<std::string> posted;
  while ((posted = posted_addresses(server.output())) != expected &&
         std::chrono::steady_clock::now() < deadline && tamro.running()) {
    std::this_thread::sleep_for(250ms);
  }
  if (posted != expected) {
    std::string missing;
    int shown = 0;
    for (const auto& a : expected)
      if (!posted.count(a) && shown++ < 5) missing += " " + a;
    FAIL() << posted.size() << " of " << device_count << " devices posted; missing" << missing
           << "\n"
           << tail(files.log(), 30) << tamro.output();
  }

  // Each reply set an interval of 300 s, which is written back for every device.
  EXPECT_TRUE(wait_until(
      [&] {
        return count(read_file(files.home.file("devices.xml")),
                     "<heartbeat-interval>300</heartbeat-interval>") == expected.size();
      },
      15s))
      << tail(files.log(), 30);
  tamro.signal(SIGTERM);
  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(tamro.wait(10s), 0) << tamro.output();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 5s);

  // What was posted carries the device's answer, not an empty one.
  std::string descr = device.get(sys_descr);
  if (descr.size() >= 2 && descr.front() == '"') descr = descr.substr(1, descr.size() - 2);
  int wrong = 0;
  std::string first_wrong;
  for (const auto& request : server.requests()) {
    boost::property_tree::ptree root;
    std::istringstream body(request.body);
    boost::property_tree::read_xml(body, root);
    if (!expected.count(root.get("heartbeat.ip-address", ""))) continue;
    if (root.get("heartbeat.system.sys-name", "") != everywhere.sys_name ||
        root.get("heartbeat.system.sys-descr", "") != descr) {
      if (wrong++ == 0) first_wrong = request.body;
    }
  }
  EXPECT_EQ(wrong, 0) << first_wrong;
}

}  // namespace
}  // namespace tamro::test
