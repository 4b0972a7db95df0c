// A device that finds the answer too big for one message gets the request split.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "agents/snmp_poller.hpp"
#include "mapping/mappers/oid_variable.hpp"
#include "tests/agents/polling_fixture.hpp"
#include "tests/support/child_process.hpp"

namespace tamro::agents {
namespace {

// Variables V1... for .1.3.6.1.4.1.99999.70.1.0, .2.0, ...
std::shared_ptr<const mapping> numbered(int count) {
  std::vector<std::shared_ptr<const mapper>> mappers;
  for (int i = 1; i <= count; ++i)
    mappers.push_back(std::make_shared<mappers::oid_variable>(
        "V" + std::to_string(i), ".1.3.6.1.4.1.99999.70." + std::to_string(i) + ".0"));
  return std::make_shared<const mapping>("numbered", std::move(mappers));
}

class TooBig : public test_support::Polling {
 protected:
  TooBig() : Polling("{{V1}}|{{V3}}|{{V5}}\n") {}

  // tools/too_big_device.py answering at most `most` OIDs a request; its port.
  std::string device(int most) {
    devices.push_back(std::make_unique<test::child_process>(
        std::vector<std::string>{TAMRO_PYTHON3,
                                 std::string(TAMRO_SOURCE_DIR) + "/tools/too_big_device.py",
                                 "--most", std::to_string(most)},
        dir.file("device-" + std::to_string(devices.size()) + ".out")));
    test::child_process& started = *devices.back();
    const std::string marker = "listening on ";
    EXPECT_TRUE(test::wait_until([&] { return started.output().find('\n') != std::string::npos; },
                                 std::chrono::seconds(10)));
    return "127.0.0.1:" +
           started.output().substr(marker.size(), started.output().find('\n') - marker.size());
  }

  std::vector<std::unique_ptr<test::child_process>> devices;
};

TEST_F(TooBig, TheRequestIsHalvedUntilItFitsAndTheSplittingIsBounded) {
  device_settings fits = settings_for("10.0.0.1", device(2));
  fits.version = 1;
  fits.mapping = numbered(5);
  add(fits);
  device_settings never = settings_for("10.0.0.2", device(1));
  never.version = 1;
  never.mapping = numbered(200);  // 399 requests to get there: more than a cycle may take
  add(never);

  for (const auto& poller : pollers) poller->start_heartbeat();
  run_until_idle();
  const std::string value = "value of .1.3.6.1.4.1.99999.70.";
  EXPECT_EQ(printed.str(), heartbeat("10.0.0.1", value + "1.0|" + value + "3.0|" + value + "5.0\n"))
      << log.text();
  EXPECT_TRUE(log.has('E', "10.0.0.2 - SNMP error status tooBig (index 0)")) << log.text();
  EXPECT_TRUE(log.has_prefix('E', "10.0.0.2 - response mapping error: ")) << log.text();
}

}  // namespace
}  // namespace tamro::agents
