// Fifty SNMPv3 devices that never answer beside one that does.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "agents/snmp_poller.hpp"
#include "mapping/mappers/oid_variable.hpp"
#include "tests/agents/polling_fixture.hpp"
#include "tests/support/snmpd.hpp"

namespace tamro::agents {
namespace {

using clock_type = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string sys_name = ".1.3.6.1.2.1.1.5.0";

class SilentDevices : public test_support::Polling {
 protected:
  SilentDevices()
      : Polling("{{IP_ADDRESS}} {{SYS_NAME}}\n"),
        device([] {
          test::snmpd_options options;
          options.extra_lines = {
              "createUser fleet-user SHA \"auth-secret-1\" AES \"priv-secret-1\"",
              "rouser fleet-user priv"};
          return options;
        }()),
        silent(other_io,
               boost::asio::ip::udp::endpoint(boost::asio::ip::address_v4::loopback(), 0)) {}

  snmp_poller& add_v3(const std::string& address, const std::string& peer) {
    device_settings settings = settings_for(address, peer);
    settings.version = 3;
    settings.timeout = 2;
    settings.usm.security_name = "fleet-user";
    settings.usm.level = snmp::security_level::auth_priv;
    settings.usm.auth_passphrase = "auth-secret-1";
    settings.usm.privacy_passphrase = "priv-secret-1";
    settings.mapping = std::make_shared<const mapping>(
        "name", std::vector<std::shared_ptr<const mapper>>{
                    std::make_shared<mappers::oid_variable>("SYS_NAME", sys_name)});
    return add(settings);
  }

  test::snmpd device;
  boost::asio::io_context other_io;
  boost::asio::ip::udp::socket silent;  // never read: a device that is down
};

// Every discovery is in flight at once and none waits on the I/O thread: the answering device
// delivers at once though it starts last, and the silent ones all end one time-out later.
TEST_F(SilentDevices, FiftySilentV3DevicesHoldUpNeitherTheOthersNorEachOther) {
  const std::string nowhere = "127.0.0.1:" + std::to_string(silent.local_endpoint().port());
  for (int i = 1; i <= 50; ++i) add_v3("10.0.1." + std::to_string(i), nowhere);
  add_v3("10.0.9.1", device.peer());

  const auto started = clock_type::now();
  const auto milliseconds = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - started)
        .count();
  };
  for (const auto& poller : pollers) poller->start_heartbeat();
  const std::string expected = heartbeat("10.0.9.1", "10.0.9.1 tamro-test-device\n");
  io.restart();
  while (printed.str() != expected && clock_type::now() - started < 10s)
    io.run_one_for(std::chrono::milliseconds(100));
  EXPECT_EQ(printed.str(), expected) << log.text();
  EXPECT_LT(milliseconds(), 1000);

  run_until_idle();
  EXPECT_LT(milliseconds(), 4000) << "the silent ones end together";
  int timed_out = 0;
  for (int i = 1; i <= 50; ++i)
    timed_out += log.has('E', "10.0.1." + std::to_string(i) + " - SNMP response error: Timeout");
  EXPECT_EQ(timed_out, 50) << log.text();
}

}  // namespace
}  // namespace tamro::agents
