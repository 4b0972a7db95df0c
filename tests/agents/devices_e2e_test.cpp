// The agent binary against a real snmpd and the management-server simulator.
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
#include <vector>

#include "tests/app/agent_files.hpp"
#include "tests/app/scrape.hpp"
#include "tests/support/agent_support.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/snmpd.hpp"

namespace tamro::test {
namespace {

using namespace std::chrono_literals;

const std::string sys_descr = ".1.3.6.1.2.1.1.1.0";
const std::string sys_contact = ".1.3.6.1.2.1.1.4.0";
const std::string sys_name = ".1.3.6.1.2.1.1.5.0";
const std::string level = ".1.3.6.1.4.1.99999.1.0";  // writable integer
const std::string mac = ".1.3.6.1.4.1.99999.3.0";    // six raw bytes, from a pass script
const std::string absent = ".1.3.6.1.4.1.99999.9.0";

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string unquoted(const std::string& text) {
  return text.size() >= 2 && text.front() == '"' ? text.substr(1, text.size() - 2) : text;
}

std::string bench_mapping(const std::string& name = "bench") {
  const auto variable = [](const std::string& variable, const std::string& oid,
                           const std::string& transformation = "") {
    return "<variable><name>" + variable + "</name><oid>" + oid + "</oid>" +
           (transformation.empty() ? ""
                                   : "<transformation>" + transformation + "</transformation>") +
           "</variable>";
  };
  return "<mapping><name>" + name + "</name><mappers>" + variable("SYS_NAME", sys_name) +
         variable("SYS_DESCR", sys_descr) +
         variable("SYS_UPTIME", ".1.3.6.1.2.1.1.3.0", "timeticks-to-seconds") +
         variable("MAC_ADDRESS", mac, "format-mac-address") + "</mappers></mapping>";
}

std::string device(const std::string& address, unsigned short port,
                   const std::string& version = "v2c", const std::string& mapping = "bench") {
  return "<device><ip-address>" + address + "</ip-address><udp-port>" + std::to_string(port) +
         "</udp-port><snmp-version>" + version +
         "</snmp-version><community>public</community><mapping-name>" + mapping +
         "</mapping-name><heartbeat-interval>1</heartbeat-interval></device>";
}

std::string json_text(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) out += c == '"' ? std::string("\\\"") : std::string(1, c);
  return out + "\"";
}

struct heartbeat {
  boost::property_tree::ptree root;
  int status = 200;  // what the server answered
  std::string get(const std::string& path) const { return root.get("heartbeat." + path, ""); }
  int counter() const { return root.get("heartbeat.heartbeat-counter", 0); }
  // "id=value" per statistic, "id/status/value" per alarm.
  std::vector<std::string> rows(const std::string& list) const {
    std::vector<std::string> out;
    for (const auto& row : root.get_child("heartbeat." + list)) {
      const auto attribute = [&](const char* name) {
        return row.second.get(std::string("<xmlattr>.") + name, "");
      };
      if (row.first == "stat") out.push_back(attribute("id") + "=" + row.second.data());
      if (row.first == "alarm")
        out.push_back(attribute("id") + "/" + attribute("status") + "/" + attribute("value"));
    }
    return out;
  }
};

// A home with the sample heartbeat template, a mapping list and a device list; a management
// server answering with an interval of one second; an snmpd with a writable integer and a MAC.
struct device_run {
  agent_files files;
  temp_dir server_dir;
  management_server server{server_dir};
  std::unique_ptr<snmpd> device;
  std::unique_ptr<child_process> tamro;
  std::string devices;
  std::string more_mappings;

  explicit device_run(snmpd_options options = {}) {
    const std::string script = files.home.file("mac.sh");
    write_file(script, "#!/bin/sh\n[ \"$1\" = -g ] && [ \"$2\" = " + mac + " ] && printf '" + mac +
                           "\\noctet\\n00 1a 2b 3c 4d 5e\\n'\nexit 0\n");
    ::chmod(script.c_str(), 0755);
    options.extra_lines = {snmpd::writable_integer(level, 5),
                           "pass .1.3.6.1.4.1.99999.3 " + script};
    device = std::make_unique<snmpd>(options);
    files.server_uri = server.url();
    files.reporting =  // status heartbeats name an address no device has
        "<ip-address>192.0.2.1</ip-address><mac-address>00:1A:2B:3C:4D:5E</mac-address>";
    reply("");
  }

  void reply(const std::string& members) const {
    server.script("{\"interval\": 1" + (members.empty() ? "" : ", " + members) + "}");
  }

  void write_home() const {
    files.write();
    write_file(files.home.file("heartbeat.xml"),
               read_file(std::string(TAMRO_SOURCE_DIR) + "/etc/heartbeat.xml"));
    write_file(files.home.file("mappings.xml"),
               "<mappings>" + bench_mapping() + more_mappings + "</mappings>");
    write_file(files.home.file("devices.xml"), "<devices>" + devices + "</devices>");
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
      h.status = request.status;
      std::istringstream body(request.body);
      boost::property_tree::read_xml(body, h.root);
      if (h.get("ip-address") == ip) out.push_back(std::move(h));
    }
    return out;
  }

  template <class Predicate>
  bool heartbeat_shows(const std::string& ip, Predicate predicate) const {
    return wait_until(
        [&] {
          for (const auto& h : heartbeats(ip))
            if (predicate(h)) return true;
          return false;
        },
        15s);
  }

  bool log_shows(const std::string& text) const {
    return wait_until([&] { return count(files.log(), text) > 0; }, 15s);
  }

  int stop() {
    tamro->signal(SIGTERM);
    return tamro->wait(20s).value_or(-1);
  }
};

TEST(DevicesEndToEnd, HeartbeatCarriesTheDeviceValuesStatisticsAndAlarms) {
  device_run run;
  run.reply("\"statistics\": [{\"id\": \"contact\", \"oid\": \"" + sys_contact +
            "\"}, {\"id\": \"gone\", \"oid\": \"" + absent +
            "\"}], \"alarms\": [{\"id\": \"a1\", \"name\": \"high\", \"oid\": \"" + level +
            "\", \"threshold\": 10, \"op\": \"above\"}]");
  run.start(device("127.0.0.1", run.device->port()));

  const std::string ip = "127.0.0.1";
  ASSERT_TRUE(run.heartbeat_shows(ip, [](const heartbeat& h) {
    return !h.rows("statistics").empty();
  })) << run.files.log();
  const heartbeat h = run.heartbeats(ip).back();
  EXPECT_EQ(h.get("agent-mac-address"), "00:1A:2B:3C:4D:5E");
  EXPECT_EQ(h.get("system.sys-name"), unquoted(run.device->get(sys_name)));
  EXPECT_EQ(h.get("system.sys-descr"), unquoted(run.device->get(sys_descr)));
  EXPECT_EQ(h.get("mac-address"), "00:1A:2B:3C:4D:5E");
  EXPECT_LT(std::stoi(h.get("system.sys-uptime")), 120);
  EXPECT_EQ(h.rows("statistics"),
            std::vector<std::string>{"contact=" + unquoted(run.device->get(sys_contact))});
  EXPECT_TRUE(h.rows("alarms").empty());

  const auto seen = run.heartbeats(ip).size();
  run.device->set_integer(level, 42);
  ASSERT_TRUE(run.heartbeat_shows(ip, [](const heartbeat& b) {
    return b.rows("alarms") == std::vector<std::string>{"a1/active/42"};
  })) << run.files.log();
  run.device->set_integer(level, 3);
  ASSERT_TRUE(run.heartbeat_shows(ip, [](const heartbeat& b) {
    return b.rows("alarms") == std::vector<std::string>{"a1/closed/3"};
  })) << run.files.log();
  std::size_t sections = 0;  // one when the condition starts, one when it ends
  const auto all = run.heartbeats(ip);
  for (std::size_t i = seen; i < all.size(); ++i) sections += all[i].rows("alarms").size();
  EXPECT_EQ(sections, 2u);
  EXPECT_EQ(run.stop(), 0) << run.tamro->output();
}

TEST(DevicesEndToEnd, VersionOneAnswerSpoiltByAStatisticIsResentOnce) {
  device_run run;
  run.reply("\"statistics\": [{\"id\": \"gone\", \"oid\": \"" + absent + "\"}]");
  run.start(device("127.0.0.1", run.device->port(), "v1"));
  ASSERT_TRUE(run.log_shows("127.0.0.1 - resending SNMP request")) << run.files.log();
  // Every reply asks again, so every cycle takes two requests and still delivers.
  const int posts = static_cast<int>(run.heartbeats("127.0.0.1").size());
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.1",
                                  [&](const heartbeat& h) { return h.counter() > posts + 2; }));
  EXPECT_EQ(run.stop(), 0);

  const std::string log = run.files.log();
  EXPECT_EQ(count(log, "127.0.0.1 - response mapping error: value for "),
            count(log, "127.0.0.1 - clearing requested alerts, stats and traps lists"));
  EXPECT_EQ(count(log, "127.0.0.1 - response mapping error: "),
            count(log, "127.0.0.1 - resending SNMP request"));
  // The device said why before the lookups failed: the absent OID is the request's last.
  EXPECT_GT(count(log, "127.0.0.1 - SNMP error status noSuchName (index "), 0) << log;
  for (const auto& h : run.heartbeats("127.0.0.1")) {
    EXPECT_EQ(h.get("system.sys-name"), "tamro-test-device");
    EXPECT_TRUE(h.rows("statistics").empty());
  }
}

TEST(DevicesEndToEnd, PushedListsAreSavedAndANewDeviceIsPolled) {
  snmpd_options everywhere;
  everywhere.listen_address = "0.0.0.0";
  device_run run(everywhere);
  const unsigned short port = run.device->port();
  run.start(device("127.0.0.1", port));
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.1", [](const heartbeat&) { return true; }));

  run.reply("\"mappings\": " + json_text("<mappings>" + bench_mapping("pushed") + "</mappings>") +
            ", \"devices\": " +
            json_text("<devices>" + device("127.0.0.1", port, "v2c", "pushed") +
                      device("127.0.0.2", port, "2c", "pushed") + "</devices>"));
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
  EXPECT_EQ(count(devices, "    <ip-address>127.0.0.2</ip-address>\n    <udp-port>" +
                               std::to_string(port) +
                               "</udp-port>\n    <snmp-version>v2c</snmp-version>\n"),
            1u);
  EXPECT_EQ(count(devices, "<mapping-name>pushed</mapping-name>"), 2u);
  const std::string mappings = read_file(run.files.home.file("mappings.xml"));
  EXPECT_EQ(
      count(mappings, "-->\n<mappings version=\"1.0\">\n  <mapping>\n    <name>pushed</name>\n"),
      1u)
      << mappings;
  EXPECT_EQ(count(mappings, "<name>bench</name>"), 0u);
}

TEST(DevicesEndToEnd, ReloadRecyclesEveryPollerWithoutResettingItsTiming) {
  snmpd_options everywhere;
  everywhere.listen_address = "0.0.0.0";
  device_run run(everywhere);
  run.server.script("{\"interval\": 3}");
  const unsigned short port = run.device->port();
  run.start(device("127.0.0.1", port) + device("127.0.0.2", port));
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.1", [](const heartbeat& h) { return h.counter() >= 2; }))
      << run.files.log();
  const int counter = run.heartbeats("127.0.0.1").back().counter();
  const auto last_post = std::chrono::steady_clock::now();

  run.tamro->signal(SIGHUP);
  ASSERT_TRUE(run.log_shows("--- reloading configuration ---"));
  // The same poller goes on counting, and waits out its interval: a new one would start now.
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.1", [&](const heartbeat& h) {
    return h.counter() == counter + 1;
  })) << run.files.log();
  EXPECT_GE(std::chrono::steady_clock::now() - last_post, 1500ms);
  const std::string log = run.files.log();
  EXPECT_EQ(count(log, "127.0.0.1 - SNMP poller recycled"), 1u);
  EXPECT_EQ(count(log, "127.0.0.2 - SNMP poller recycled"), 1u);
  EXPECT_EQ(count(log, "SNMP poller created"), 2u);
  EXPECT_EQ(run.stop(), 0);
}

// A device whose walks were too big is asked with requests of the full size again after a
// reload: the reload may be because it changed.
TEST(DevicesEndToEnd, AReloadForgetsHowSmallTheWalksOfADeviceHadToBe) {
  device_run run;
  const std::string column = ".1.3.6.1.4.1.99999.71.";
  child_process walked({TAMRO_PYTHON3, std::string(TAMRO_SOURCE_DIR) + "/tools/too_big_device.py",
                        "--most", "2", "--column", column + "1:2", "--column", column + "2:2"},
                       run.files.home.file("walked.out"));
  ASSERT_TRUE(wait_until([&] { return walked.output().find('\n') != std::string::npos; }, 10s));
  const auto port = static_cast<unsigned short>(std::stoi(walked.output().substr(13)));
  // 25, 12, 6 and 3 rows of the two columns are too big; one row fits.
  const auto too_big = [&] { return count(walked.output(), "tooBig\n"); };
  const auto column_of = [&](const std::string& name, int n) {
    return "<column><name>" + name + "</name><oid>" + column + std::to_string(n) +
           "</oid></column>";
  };
  run.more_mappings = "<mapping><name>walked</name><mappers><table><name>T</name>" +
                      column_of("A", 1) + column_of("B", 2) + "</table></mappers></mapping>";
  run.start(device("127.0.0.1", port, "v2c", "walked"));
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.1", [](const heartbeat& h) { return h.counter() >= 2; }))
      << run.files.log();
  EXPECT_EQ(too_big(), 4u);

  run.tamro->signal(SIGHUP);
  ASSERT_TRUE(run.log_shows("--- reloading configuration ---"));
  EXPECT_TRUE(wait_until([&] { return too_big() == 8; }, 15s)) << walked.output();
  // Two more cycles: the one that learnt again and one that keeps to it.
  const int counter = run.heartbeats("127.0.0.1").back().counter();
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.1", [&](const heartbeat& h) {
    return h.counter() >= counter + 2;
  })) << run.files.log();
  EXPECT_EQ(too_big(), 8u);
  EXPECT_EQ(run.stop(), 0);
}

// Removal: a device the server drops while its request is in flight is gone for good.
TEST(DevicesEndToEnd, ADeviceRemovedWhileBusyIsNeverWrittenNorPolledAgain) {
  snmpd_options everywhere;
  everywhere.listen_address = "0.0.0.0";
  device_run run(everywhere);
  run.files.snmp = "<timeout>4</timeout>";  // nothing answers 127.0.0.3
  const unsigned short port = run.device->port();
  run.start(device("127.0.0.1", port) + device("127.0.0.3", free_port(SOCK_DGRAM)));
  ASSERT_TRUE(run.log_shows("127.0.0.3 - SNMP request sent")) << run.files.log();

  run.reply("\"devices\": " + json_text("<devices>" + device("127.0.0.1", port) +
                                        device("127.0.0.2", port) + "</devices>"));
  ASSERT_TRUE(
      run.log_shows("127.0.0.3 - orphaned agent is busy and cannot be removed from list "
                    "of known agents - marking as dead"))
      << run.files.log();
  // The pushed list is saved at once, without the device that waits for its answer.
  ASSERT_TRUE(wait_until(
      [&] {
        return count(read_file(run.files.home.file("devices.xml")),
                     "<ip-address>127.0.0.2</ip-address>") == 1;
      },
      15s));
  const std::string saved = read_file(run.files.home.file("devices.xml"));
  EXPECT_EQ(count(saved, "127.0.0.3"), 0u) << "written as it waits for its answer: " << saved;
  run.reply("");
  // Its request is cancelled rather than waited for.
  ASSERT_TRUE(run.log_shows("127.0.0.3 - marked as dead, ignoring SNMP error")) << run.files.log();
  ASSERT_TRUE(run.log_shows("127.0.0.3 - removing dead agent from list of known agents"))
      << run.files.log();
  EXPECT_EQ(count(read_file(run.files.home.file("devices.xml")), "127.0.0.3"), 0u);

  run.tamro->signal(SIGHUP);
  ASSERT_TRUE(run.log_shows("--- reloading configuration ---")) << run.files.log();
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.2", [](const heartbeat&) { return true; }));
  const std::string log = run.files.log();
  const auto reload = log.find("--- reloading configuration ---");
  EXPECT_EQ(log.find("127.0.0.3 - SNMP request sent", reload), std::string::npos) << log;
  EXPECT_EQ(count(log, "127.0.0.3 - SNMP poller created"), 1u) << log;
  EXPECT_EQ(run.stop(), 0);
}

// Delivery: an alarm transition refused by the server is reported again until delivered,
// then never again.
TEST(DevicesEndToEnd, AnAlarmTransitionIsReportedUntilItsHeartbeatIsDelivered) {
  device_run run;
  const std::string requests =
      "\"statistics\": [{\"id\": \"contact\", \"oid\": \"" + sys_contact +
      "\"}], \"alarms\": [{\"id\": \"neg\", \"name\": " + "\"negative\", \"oid\": \"" + level +
      "\", \"threshold\": -4, \"op\": \"below\"}]";
  run.reply(requests);
  const std::string ip = "127.0.0.1";
  run.start(device(ip, run.device->port()));
  // The statistic shows the requests in force.
  ASSERT_TRUE(run.heartbeat_shows(ip, [](const heartbeat& h) {
    return !h.rows("statistics").empty();
  })) << run.files.log();

  const auto reported = [&](const std::string& row, int status) {
    return run.heartbeat_shows(ip, [&](const heartbeat& h) {
      return h.status == status && h.rows("alarms") == std::vector<std::string>{row};
    });
  };
  const auto passes = [&](const std::string& row, int value) {
    run.server.script("{\"interval\": 1, \"status\": 503}");
    run.device->set_integer(level, value);
    EXPECT_TRUE(reported(row, 503)) << run.files.log();
    run.reply(requests);
    EXPECT_TRUE(reported(row, 200)) << "reported again once the server takes it";
    const std::size_t seen = run.heartbeats(ip).size();
    EXPECT_TRUE(wait_until([&] { return run.heartbeats(ip).size() >= seen + 3; }, 15s));
    std::size_t delivered = 0;
    for (const auto& h : run.heartbeats(ip)) {
      if (h.status != 200 || h.rows("alarms").empty()) continue;
      if (h.rows("alarms") == std::vector<std::string>{row}) ++delivered;
    }
    EXPECT_EQ(delivered, 1u) << "reported once to a server that took it: " << row;
  };
  passes("neg/active/-5", -5);
  passes("neg/closed/5", 5);
  EXPECT_EQ(run.stop(), 0) << run.tamro->output();
}

// Delivery across a restart: what the server knows of the alarms is kept in the agent's
// home, so that one that ended while the agent was down is reported closed.
TEST(DevicesEndToEnd, AnAlarmThatEndedWhileTheAgentWasDownIsReportedClosedAfterTheStart) {
  device_run run;
  const std::string ip = "127.0.0.1";
  run.reply("\"alarms\": [{\"id\": \"neg\", \"name\": \"negative\", \"oid\": \"" + level +
            "\", \"threshold\": -4, \"op\": \"below\"}]");
  run.device->set_integer(level, -5);
  const std::string devices = device(ip, run.device->port());
  run.start(devices);
  const auto shows = [&](const std::string& row, std::size_t after) {
    return wait_until(
        [&] {
          const auto all = run.heartbeats(ip);
          for (std::size_t i = after; i < all.size(); ++i)
            if (all[i].status == 200 && all[i].rows("alarms") == std::vector<std::string>{row})
              return true;
          return false;
        },
        15s);
  };
  ASSERT_TRUE(shows("neg/active/-5", 0)) << run.files.log();
  EXPECT_EQ(run.stop(), 0);
  const std::string states = run.files.home.file("alarm-states.xml");
  EXPECT_EQ(count(read_file(states), "<device address=\"127.0.0.1\">"), 1u) << read_file(states);
  EXPECT_EQ(count(read_file(states), "<active oid=\"" + level + "\"/>"), 1u) << read_file(states);

  run.device->set_integer(level, 5);
  std::size_t seen = run.heartbeats(ip).size();
  run.start(devices);
  ASSERT_TRUE(shows("neg/closed/5", seen)) << run.files.log();
  EXPECT_EQ(run.stop(), 0);
  EXPECT_EQ(count(read_file(states), "127.0.0.1"), 0u) << "nothing active is left to record";

  // A record that does not read is said so, and the agent goes on without it.
  write_file(states, "<alarm-states><device");
  seen = run.heartbeats(ip).size();
  run.start(devices);
  ASSERT_TRUE(run.log_shows("the alarm states cannot be read (" + states)) << run.files.log();
  ASSERT_TRUE(wait_until([&] { return run.heartbeats(ip).size() > seen; }, 15s));
  EXPECT_EQ(run.stop(), 0);
}

// Slow status: a status reply slower than a tick is waited for, read and applied.
TEST(DevicesEndToEnd, AStatusReplySlowerThanATickIsReadAndItsListApplied) {
  snmpd_options everywhere;
  everywhere.listen_address = "0.0.0.0";
  device_run run(everywhere);
  const unsigned short port = run.device->port();
  run.files.reporting += "<heartbeat-interval>1</heartbeat-interval>";
  run.server.script("{\"interval\": 1, \"agents\": {\"192.0.2.1\": {\"delay\": 1.5, " +
                    std::string("\"devices\": ") +
                    json_text("<devices>" + device("127.0.0.1", port) + device("127.0.0.2", port) +
                              "</devices>") +
                    "}}}");
  run.start(device("127.0.0.1", port));
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.2", [](const heartbeat& h) {
    return h.get("system.sys-name") == "tamro-test-device";
  })) << run.files.log();
  EXPECT_EQ(run.stop(), 0);
  // Each post waited 1.5 s for its reply, with ticks every 0.2 s: never two at once.
  const std::string log = run.files.log();
  std::istringstream lines(log);
  int in_flight = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("<status reporter> - HTTP POST request sent") != std::string::npos) ++in_flight;
    if (line.find("<status reporter> - HTTP response received") != std::string::npos) --in_flight;
    ASSERT_LE(in_flight, 1) << log;
  }
  EXPECT_EQ(count(log, "<status reporter> - while sending heartbeat"), 0u) << log;
}

// Recycle: a changed setting that arrives while a device posts leaves its next cycle alone.
TEST(DevicesEndToEnd, ASettingChangedWhileADevicePostsKeepsTheNextAnswer) {
  device_run run;
  const unsigned short port = run.device->port();
  run.server.script("{\"interval\": 1, \"agents\": {\"127.0.0.1\": {\"delay\": 2}}}");
  run.start(device("127.0.0.1", port));
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.1", [](const heartbeat&) { return true; }));
  // Its reply is two seconds away: the status reply changes its time-out meanwhile.
  std::string changed = device("127.0.0.1", port);
  changed.insert(changed.find("</device>"), "<timeout>3</timeout>");
  run.server.script("{\"interval\": 1, \"agents\": {\"127.0.0.1\": {\"delay\": 2}, " +
                    std::string("\"192.0.2.1\": {\"devices\": ") +
                    json_text("<devices>" + changed + "</devices>") + "}}}");
  ASSERT_TRUE(wait_until(
      [&] {
        return count(read_file(run.files.home.file("devices.xml")), "<timeout>3</timeout>") == 1;
      },
      15s))
      << run.files.log();
  const int counter = run.heartbeats("127.0.0.1").back().counter();
  ASSERT_TRUE(run.heartbeat_shows("127.0.0.1", [&](const heartbeat& h) {
    return h.counter() >= counter + 2;
  })) << run.files.log();
  EXPECT_EQ(count(run.files.log(), "127.0.0.1 - recently recycled"), 0u) << run.files.log();
  EXPECT_EQ(run.stop(), 0);
}

TEST(DevicesEndToEnd, UnansweredDeviceIsRetriedAndReloadAndStopCancelWhatIsInFlight) {
  device_run run;
  run.files.snmp = "<timeout>1</timeout>";
  run.start(device("127.0.0.4", free_port(SOCK_DGRAM)));
  // Asked again after the timeout (whose line the log shows once).
  ASSERT_TRUE(wait_until(
      [&] {
        const std::string log = run.files.log();
        const auto timeout = log.find("127.0.0.4 - SNMP response error: Timeout");
        return timeout != std::string::npos &&
               log.find("127.0.0.4 - SNMP request sent", timeout) != std::string::npos;
      },
      15s))
      << run.files.log();

  // Requests that would not end for a minute hold neither a reload nor a stop.
  run.files.snmp = "<timeout>60</timeout>";
  run.write_home();
  const auto sent_after = [&](int reloads) {
    return wait_until(
        [&] {
          const std::string log = run.files.log();
          std::size_t at = 0;
          for (int i = 0; i < reloads && at != std::string::npos; ++i)
            at = log.find("--- reloading configuration ---", at + 1);
          return at != std::string::npos &&
                 log.find("127.0.0.4 - SNMP request sent", at) != std::string::npos;
        },
        15s);
  };
  run.tamro->signal(SIGHUP);
  ASSERT_TRUE(sent_after(1)) << run.files.log();
  run.tamro->signal(SIGHUP);
  ASSERT_TRUE(sent_after(2)) << run.files.log();
  EXPECT_GE(count(run.files.log(),
                  "1 SNMP requests cancelled and 0 waiting heartbeats dropped for the reload"),
            1u);
  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(run.stop(), 0) << run.tamro->output();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 10s);
  EXPECT_EQ(count(run.files.log(), "1 SNMP requests cancelled, 0 heartbeat posts dropped"), 1u)
      << run.files.log();
  EXPECT_EQ(count(run.files.log(), "SNMP response error: "),
            count(run.files.log(), "SNMP response error: Timeout"))
      << "cancelled requests are summed up, not logged one by one";
}

// A device that never answers and a server that refuses every post, for many ticks: the log
// shows each failure once, the metrics count them all, and the log says when each ends.
TEST(DevicesEndToEnd, FailuresThatRepeatAreLoggedOnceAndTheirEndIsLogged) {
  snmpd_options options;
  options.listen_address = "0.0.0.0";  // answers 127.0.0.9 once it is pointed there
  device_run run(options);
  // A UDP port that takes the requests and never answers.
  const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(silent, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(0x7f000009);  // 127.0.0.9
  ASSERT_EQ(::bind(silent, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
  const unsigned short metrics_port = free_port(SOCK_STREAM);
  run.files.snmp = "<timeout>1</timeout><retries>0</retries>";
  run.files.server_uri =
      "http://127.0.0.1:" + std::to_string(free_port(SOCK_STREAM)) + "/heartbeat";
  run.files.agent_extra =
      "<metrics-listen>127.0.0.1:" + std::to_string(metrics_port) + "</metrics-listen>";
  run.start(device("127.0.0.9", ntohs(address.sin_port)));

  const auto counted = [&](const std::string& series) {
    const std::string metrics = get(metrics_port, "/metrics");
    const auto at = metrics.find(series + " ");
    return at == std::string::npos ? 0 : std::stoi(metrics.substr(at + series.size() + 1));
  };
  ASSERT_TRUE(wait_until(
      [&] {
        return counted("tamro_snmp_requests_total{result=\"timeout\"}") >= 3 &&
               counted("tamro_heartbeats_total{result=\"error\"}") >= 3;
      },
      20s))
      << run.files.log();
  EXPECT_EQ(count(run.files.log(), "127.0.0.9 - SNMP response error: Timeout"), 1u)
      << run.files.log();
  EXPECT_EQ(count(run.files.log(), "<status reporter> - while sending heartbeat to server: "), 1u)
      << run.files.log();

  // The operator points both where they answer.
  run.devices = device("127.0.0.9", run.device->port());
  run.files.server_uri = run.server.url();
  run.write_home();
  run.tamro->signal(SIGHUP);
  EXPECT_TRUE(run.log_shows("[I] 127.0.0.9 - SNMP answers again after ")) << run.files.log();
  EXPECT_TRUE(run.log_shows("[I] <status reporter> - heartbeats delivered again after "))
      << run.files.log();
  EXPECT_EQ(run.stop(), 0);
  ::close(silent);
}

}  // namespace
}  // namespace tamro::test
