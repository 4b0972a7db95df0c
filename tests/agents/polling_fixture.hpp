#pragma once

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/property_tree/ptree.hpp>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "agents/service_channel.hpp"
#include "agents/snmp_poller.hpp"
#include "reporting/heartbeat_posting.hpp"
#include "reporting/posting_settings.hpp"
#include "reporting/transcript_sender.hpp"
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
    posting.configure(read_posting_settings(section));
    posting.poster().use(transcript);
  }

  // The settings of a device at this address, polled at peer.
  static device_settings settings_for(const std::string& address, const std::string& peer) {
    device_settings settings;
    settings.address = address;
    settings.peer = peer;
    return settings;
  }

  snmp_poller& add(device_settings settings) {
    pollers.push_back(std::make_unique<snmp_poller>(io, posting.poster(), channel, identity));
    snmp_poller& poller = *pollers.back();
    poller.reconfigure(std::move(settings));
    return poller;
  }

  // One cycle of one poller; what it printed.
  std::string cycle(snmp_poller& poller) {
    printed.str("");
    poller.start_heartbeat();
    run_until_idle();
    return printed.str();
  }

  // Runs the I/O service until no poller is busy (at most ten seconds without any event).
  void run_until_idle() {
    const auto busy = [&] {
      for (const auto& poller : pollers)
        if (poller->busy()) return true;
      return false;
    };
    io.restart();
    while (busy() && io.run_one_for(std::chrono::seconds(10))) {
    }
    ASSERT_FALSE(busy());
  }

  // What the template printed for one device.
  static std::string heartbeat(const std::string& address, const std::string& text) {
    return "<!-- heartbeat of " + address + " -->\n" + text + "\n" + '\0';
  }

  test::captured_log log;
  test::temp_dir dir;
  std::ostringstream printed;
  boost::asio::io_context io;
  heartbeat_posting posting{io};
  transcript_sender transcript{io, printed};
  service_channel channel{io};
  host_identity identity;
  std::vector<std::unique_ptr<snmp_poller>> pollers;
};

}  // namespace tamro::agents::test_support
