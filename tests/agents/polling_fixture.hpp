#pragma once

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/property_tree/ptree.hpp>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "agents/snmp_poller.hpp"
#include "snmp/configure_snmp.hpp"
#include "tests/snmp/library_setup.hpp"
#include "tests/support/agent_support.hpp"

namespace tamro::agents::test_support {

// Pollers of real devices whose heartbeats are printed with a given template, not posted.
class Polling : public ::testing::Test {
 protected:
  explicit Polling(const std::string& heartbeat_template) {
    configure_snmp(test::snmp_section(dir));
    test::write_file(dir.file("heartbeat.xml"), heartbeat_template);
    boost::property_tree::ptree section;
    section.put("heartbeat-template", dir.file("heartbeat.xml"));
    section.put("server-uri", "http://127.0.0.1:9/");
    agent::configure(section);
    agent::set_transcript(&printed, false);
  }
  ~Polling() override { agent::set_transcript(nullptr, true); }

  snmp_poller& add(const std::string& address, const std::string& peer) {
    pollers.push_back(std::make_unique<snmp_poller>(io, identity));
    snmp_poller& poller = *pollers.back();
    poller.address = address;
    poller.peer = peer;
    return poller;
  }

  // Runs the I/O service until no poller is busy (at most ten seconds without any event).
  void run_until_idle() {
    const auto busy = [&] {
      for (const auto& poller : pollers)
        if (poller->busy) return true;
      return false;
    };
    io.restart();
    while (busy() && io.run_one_for(std::chrono::seconds(10))) {
    }
    ASSERT_FALSE(busy());
  }

  // What the template printed for one device.
  static std::string heartbeat(const std::string& address, const std::string& text) {
    return "<!-- heartbeat of " + address + " -->\n" + text + "\n";
  }

  test::captured_log log;
  test::temp_dir dir;
  std::ostringstream printed;
  boost::asio::io_context io;
  host_identity identity;
  std::vector<std::unique_ptr<snmp_poller>> pollers;
};

}  // namespace tamro::agents::test_support
