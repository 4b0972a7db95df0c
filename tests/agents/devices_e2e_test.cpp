// The agent binary against a real snmpd and the management-server simulator: device
// heartbeats, statistics, alarms, pushed lists, reloads and stops.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <chrono>
#include <csignal>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/agent_files.hpp"
#include "tests/reporting/agent_support.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/snmpd.hpp"

namespace tamro::test {
namespace {

using namespace std::chrono_literals;
using boost::property_tree::ptree;

const std::string sys_descr = ".1.3.6.1.2.1.1.1.0";
const std::string sys_contact = ".1.3.6.1.2.1.1.4.0";
const std::string sys_name = ".1.3.6.1.2.1.1.5.0";
const std::string level = ".1.3.6.1.4.1.99999.1.0";  // writable integer
const std::string mac = ".1.3.6.1.4.1.99999.3.0";    // six raw bytes, from a pass script
const std::string absent = ".1.3.6.1.4.1.99999.9.0";

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string unquoted(std::string text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    text = text.substr(1, text.size() - 2);
  return text;
}

std::string variable(const std::string& name, const std::string& oid,
                     const std::string& transformation = "") {
  return "<variable><name>" + name + "</name><oid>" + oid + "</oid>" +
         (transformation.empty() ? "" : "<transformation>" + transformation + "</transformation>") +
         "</variable>";
}

std::string bench_mapping(const std::string& name = "bench") {
  return "<mapping><name>" + name + "</name><mappers>" + variable("SYS_NAME", sys_name) +
         variable("SYS_DESCR", sys_descr) +
         variable("SYS_UPTIME", ".1.3.6.1.2.1.1.3.0", "timeticks-to-seconds") +
         variable("MAC_ADDRESS", mac, "format-mac-address") + "</mappers></mapping>";
}

std::string device(const std::string& address, unsigned short port,
                   const std::string& extra = "<snmp-version>v2c</snmp-version>",
                   const std::string& mapping = "bench") {
  return "<device><ip-address>" + address + "</ip-address><udp-port>" + std::to_string(port) +
         "</udp-port><community>public</community><mapping-name>" + mapping +
         "</mapping-name><heartbeat-interval>1</heartbeat-interval>" + extra + "</device>";
}

// A JSON text for the server script.
std::string quoted_json(const std::string& text) {
  std::string out = "\"";
  for (const char c : text)
    out += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
  return out + "\"";
}

// A UDP port that takes requests and never answers, for requests that stay in flight.
class black_hole {
 public:
  black_hole() : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("no UDP port");
    port_ = ntohs(address.sin_port);
  }
  ~black_hole() { ::close(fd_); }
  black_hole(const black_hole&) = delete;
  black_hole& operator=(const black_hole&) = delete;
  unsigned short port() const { return port_; }

 private:
  int fd_;
  unsigned short port_ = 0;
};

struct heartbeat {
  int counter = 0;
  std::string ip;
  ptree root;
  std::string get(const std::string& path) const { return root.get("heartbeat." + path, ""); }
  std::vector<std::pair<std::string, std::string>> stats() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& child : root.get_child("heartbeat.statistics"))
      if (child.first == "stat")
        out.emplace_back(child.second.get("<xmlattr>.id", ""), child.second.data());
    return out;
  }
  // "id/status/value" per alarm section.
  std::vector<std::string> alarms() const {
    std::vector<std::string> out;
    for (const auto& child : root.get_child("heartbeat.alarms"))
      if (child.first == "alarm")
        out.push_back(child.second.get("<xmlattr>.id", "") + "/" +
                      child.second.get("<xmlattr>.status", "") + "/" +
                      child.second.get("<xmlattr>.value", ""));
    return out;
  }
};

// One agent run: a home with the sample heartbeat template, a mapping list and a device list,
// a management server and, when asked for, an snmpd with a writable integer and a MAC.
struct device_run {
  agent_files files;
  temp_dir server_dir;
  management_server server{server_dir};
  std::unique_ptr<snmpd> device;
  std::unique_ptr<child_process> tamro;
  std::string mappings = bench_mapping();
  std::string devices;

  explicit device_run(snmpd_options options = {}) {
    const std::string script = files.home.file("mac.sh");
    write_file(script,
               "#!/bin/sh\n"
               "[ \"$1\" = -g ] && [ \"$2\" = " +
                   mac +
                   " ] && "
                   "printf '%s\\noctet\\n00 1a 2b 3c 4d 5e\\n' " +
                   mac +
                   "\n"
                   "exit 0\n");
    ::chmod(script.c_str(), 0755);
    options.extra_lines.push_back(snmpd::writable_integer(level, 5));
    options.extra_lines.push_back("pass .1.3.6.1.4.1.99999.3 " + script);
    device = std::make_unique<snmpd>(options);
    files.server_uri = server.url();
    // Status heartbeats name another address than the devices.
    files.reporting =
        "<ip-address>192.0.2.1</ip-address><mac-address>00:1A:2B:3C:4D:5E</mac-address>";
    reply("");
  }

  // The server's reply: interval 1 second, plus the given JSON members.
  void reply(const std::string& members) const {
    server.script("{\"interval\": 1" + (members.empty() ? "" : ", " + members) + "}");
  }

  // Writes the configuration, template, mappings and devices into the home.
  void write_home() const {
    files.write();
    write_file(files.home.file("heartbeat.xml"),
               read_file(std::string(TAMRO_SOURCE_DIR) + "/etc/heartbeat.xml"));
    write_file(files.home.file("mappings.xml"),
               "<mappings version=\"1.0\">" + mappings + "</mappings>\n");
    write_file(files.home.file("devices.xml"), "<devices>" + devices + "</devices>\n");
  }

  void start(const std::string& device_list) {
    devices = device_list;
    write_home();
    tamro = std::make_unique<child_process>(
        std::vector<std::string>{TAMRO_FAST_TICK_BINARY, "-f", "-c", files.configuration_file()},
        files.home.file("out"), std::map<std::string, std::string>{{"TAMRO_TEST_TICK_MS", "200"}});
  }

  std::vector<heartbeat> heartbeats(const std::string& ip) const {
    std::vector<heartbeat> out;
    for (const auto& request : server.requests()) {
      heartbeat h;
      std::istringstream body(request.body);
      try {
        boost::property_tree::read_xml(body, h.root);
      } catch (const std::exception&) {
        continue;
      }
      h.ip = h.get("ip-address");
      h.counter = h.root.get("heartbeat.heartbeat-counter", 0);
      if (h.ip == ip) out.push_back(std::move(h));
    }
    return out;
  }

  // Waits for a heartbeat of the device that satisfies the predicate.
  template <class Predicate>
  bool heartbeat_shows(const std::string& ip, Predicate predicate,
                       std::chrono::milliseconds limit = 15s) const {
    return wait_until(
        [&] {
          for (const auto& h : heartbeats(ip))
            if (predicate(h)) return true;
          return false;
        },
        limit);
  }

  bool log_shows(const std::string& text, std::chrono::milliseconds limit = 15s) const {
    return wait_until([&] { return contains(files.log(), text); }, limit);
  }

  int stop() {
    tamro->signal(SIGTERM);
    const auto code = tamro->wait(20s);
    return code ? *code : -1;
  }
};

TEST(DevicesEndToEnd, HeartbeatCarriesTheDeviceValuesStatisticsAndAlarms) {
  device_run run;
  run.reply("\"statistics\": [{\"id\": \"contact\", \"oid\": \"" + sys_contact +
            "\", \"desc\": \"sysContact\"}, {\"id\": \"gone\", \"oid\": \"" + absent +
            "\"}], \"alarms\": [{\"id\": \"a1\", \"name\": \"level-high\", \"oid\": \"" + level +
            "\", \"threshold\": 10, \"op\": \"above\"}]");
  run.start(device("127.0.0.1", run.device->port()));

  const std::string ip = "127.0.0.1";
  ASSERT_TRUE(run.heartbeat_shows(ip, [](const heartbeat& h) { return !h.stats().empty(); }))
      << run.files.log();
  const heartbeat h = run.heartbeats(ip).back();
  EXPECT_EQ(h.get("agent-mac-address"), "00:1A:2B:3C:4D:5E");
  EXPECT_EQ(h.get("system.sys-name"), unquoted(run.device->get(sys_name)));
  EXPECT_EQ(h.get("system.sys-descr"), unquoted(run.device->get(sys_descr)));
  EXPECT_EQ(h.get("mac-address"), "00:1A:2B:3C:4D:5E");
  const int uptime = std::stoi(h.get("system.sys-uptime"));
  EXPECT_GE(uptime, 0);
  EXPECT_LT(uptime, 120);
  EXPECT_EQ(h.stats(), (std::vector<std::pair<std::string, std::string>>{
                           {"contact", unquoted(run.device->get(sys_contact))}}));
  EXPECT_TRUE(h.alarms().empty());
  EXPECT_TRUE(contains(run.files.log(), "127.0.0.1 - requesting " + level));

  const auto seen = run.heartbeats(ip).size();
  run.device->set_integer(level, 42);
  ASSERT_TRUE(run.heartbeat_shows(ip, [](const heartbeat& b) {
    return b.alarms() == std::vector<std::string>{"a1/active/42"};
  })) << run.files.log();
  run.device->set_integer(level, 3);
  ASSERT_TRUE(run.heartbeat_shows(ip, [](const heartbeat& b) {
    return b.alarms() == std::vector<std::string>{"a1/closed/3"};
  })) << run.files.log();

  // One section when the condition starts and one when it ends, none in between.
  std::size_t active = 0, closed = 0;
  const auto all = run.heartbeats(ip);
  for (std::size_t i = seen; i < all.size(); ++i)
    for (const auto& alarm : all[i].alarms()) (contains(alarm, "active") ? active : closed)++;
  EXPECT_EQ(active, 1u);
  EXPECT_EQ(closed, 1u);
  EXPECT_EQ(run.stop(), 0) << run.tamro->output();
}

TEST(DevicesEndToEnd, VersionOneAnswerSpoiltByAStatisticIsResentOnce) {
  device_run run;
  run.reply("\"statistics\": [{\"id\": \"gone\", \"oid\": \"" + absent + "\"}]");
  run.start(device("127.0.0.1", run.device->port(), "<snmp-version>v1</snmp-version>"));

  ASSERT_TRUE(run.log_shows("127.0.0.1 - resending SNMP request")) << run.files.log();
  const auto before = run.heartbeats("127.0.0.1").size();
  // Every cycle asks again (the reply restores the list) and takes two requests.
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.1", [&](const heartbeat& h) {
    return h.counter > static_cast<int>(before) + 2;
  })) << run.files.log();
  EXPECT_EQ(run.stop(), 0);

  const std::string log = run.files.log();
  EXPECT_TRUE(contains(log, "127.0.0.1 - response mapping error: value for "));
  EXPECT_TRUE(contains(log, "127.0.0.1 - clearing requested alerts, stats and traps lists"));
  EXPECT_EQ(count(log, "127.0.0.1 - response mapping error: "),
            count(log, "127.0.0.1 - resending SNMP request"));
  for (const auto& h : run.heartbeats("127.0.0.1")) {
    EXPECT_EQ(h.get("system.sys-name"), "tamro-test-device");
    EXPECT_TRUE(h.stats().empty());
  }
}

TEST(DevicesEndToEnd, PushedListsAreSavedAndANewDeviceIsPolled) {
  snmpd_options everywhere;
  everywhere.listen_address = "0.0.0.0";
  device_run run(everywhere);
  const unsigned short port = run.device->port();
  run.start(device("127.0.0.1", port));
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.1", [](const heartbeat&) { return true; }))
      << run.files.log();

  run.reply("\"mappings\": " + quoted_json("<mappings>" + bench_mapping("pushed") + "</mappings>") +
            ", \"devices\": " +
            quoted_json("<devices>" + device("127.0.0.1", port, "", "pushed") +
                        device("127.0.0.2", port, "<snmp-version>2c</snmp-version>", "pushed") +
                        "</devices>"));
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.2", [](const heartbeat& h) {
    return h.get("system.sys-name") == "tamro-test-device";
  })) << run.files.log();
  EXPECT_EQ(run.stop(), 0);

  const std::string devices = read_file(run.files.home.file("devices.xml"));
  EXPECT_EQ(devices.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                          "<!--Do not add comments to this file: they will be lost-->\n"
                          "<devices>\n  <device>\n    <ip-address>127.0.0.1</ip-address>\n",
                          0),
            0u)
      << devices;
  EXPECT_TRUE(contains(devices, "    <ip-address>127.0.0.2</ip-address>\n    <udp-port>" +
                                    std::to_string(port) +
                                    "</udp-port>\n    <snmp-version>v2c</snmp-version>\n"));
  EXPECT_TRUE(contains(devices, "<mapping-name>pushed</mapping-name>"));
  const std::string mappings = read_file(run.files.home.file("mappings.xml"));
  EXPECT_TRUE(contains(mappings,
                       "<!--Do not add comments to this file: they will be lost-->\n"
                       "<mappings version=\"1.0\">\n  <mapping>\n"
                       "    <name>pushed</name>\n"))
      << mappings;
  EXPECT_FALSE(contains(mappings, "<name>bench</name>"));
}

TEST(DevicesEndToEnd, ReloadRecyclesEveryPollerWithoutResettingItsTiming) {
  snmpd_options everywhere;
  everywhere.listen_address = "0.0.0.0";
  device_run run(everywhere);
  run.server.script("{\"interval\": 3}");
  const unsigned short port = run.device->port();
  run.start(device("127.0.0.1", port) + device("127.0.0.2", port));
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.1", [](const heartbeat& h) { return h.counter >= 2; }))
      << run.files.log();
  const int counter = run.heartbeats("127.0.0.1").back().counter;
  const auto last_post = std::chrono::steady_clock::now();

  run.tamro->signal(SIGHUP);
  ASSERT_TRUE(run.log_shows("--- reloading configuration ---"));
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.1", [&](const heartbeat& h) {
    return h.counter == counter + 1;
  })) << run.files.log();
  const auto waited = std::chrono::steady_clock::now() - last_post;
  const std::string log = run.files.log();
  EXPECT_TRUE(contains(log, "127.0.0.1 - SNMP poller recycled"));
  EXPECT_TRUE(contains(log, "127.0.0.2 - SNMP poller recycled"));
  EXPECT_EQ(count(log, "SNMP poller created"), 2u);
  // A fresh poller would have been due at once; a recycled one waits out its interval.
  EXPECT_GE(waited, 1500ms);
  EXPECT_EQ(run.stop(), 0);
}

TEST(DevicesEndToEnd, DeviceDroppedWhileBusyIsMarkedDeadAndSwept) {
  black_hole silent;
  device_run run;
  run.files.snmp = "<timeout>4</timeout>";
  run.start(device("127.0.0.1", run.device->port()) + device("127.0.0.3", silent.port()));
  ASSERT_TRUE(run.log_shows("127.0.0.3 - SNMP request sent")) << run.files.log();

  run.reply("\"devices\": " +
            quoted_json("<devices>" + device("127.0.0.1", run.device->port()) + "</devices>"));
  ASSERT_TRUE(
      run.log_shows("127.0.0.3 - orphaned agent is busy and cannot be removed from list "
                    "of known agents - marking as dead"))
      << run.files.log();
  // Later replies leave the lists alone, or they would erase the poller once it is idle.
  run.reply("");
  ASSERT_TRUE(run.log_shows("127.0.0.3 - marked as dead, ignoring SNMP error")) << run.files.log();
  ASSERT_TRUE(run.log_shows("127.0.0.3 - removing dead agent from list of known agents"))
      << run.files.log();
  EXPECT_EQ(run.stop(), 0);
  EXPECT_FALSE(contains(run.files.log(), "127.0.0.3 - SNMP response error"));
}

TEST(DevicesEndToEnd, DeviceWithoutListenerIsRetriedAndStopInFlightIsClean) {
  black_hole silent;
  device_run run;
  run.files.snmp = "<timeout>1</timeout>";
  const unsigned short nobody = free_port(SOCK_DGRAM);
  run.start(device("127.0.0.4", nobody) + device("127.0.0.3", silent.port()));
  ASSERT_TRUE(wait_until(
      [&] { return count(run.files.log(), "127.0.0.4 - SNMP response error: ") >= 2; }, 15s))
      << run.files.log();

  // A request that would not end for a minute: the stop cancels it.
  run.files.snmp = "<timeout>60</timeout>";
  run.write_home();
  run.tamro->signal(SIGHUP);
  ASSERT_TRUE(run.log_shows("--- reloading configuration ---"));
  ASSERT_TRUE(wait_until(
      [&] {
        const std::string log = run.files.log();
        return log.find("127.0.0.3 - SNMP request sent",
                        log.find("--- reloading configuration ---")) != std::string::npos;
      },
      10s));
  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(run.stop(), 0) << run.tamro->output();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 10s);
  EXPECT_TRUE(contains(run.files.log(), "--- shutting down ---"));
}

}  // namespace
}  // namespace tamro::test
