#include <gtest/gtest.h>

#include <cstdlib>

#include "app/host_discovery.hpp"
#include "app/paths.hpp"

namespace tamro {
namespace {

TEST(HostIdentity, HardwareAddressKeepsLeadingZeros) {
  EXPECT_EQ(format_hardware_address(std::string("\x00\x1a\x2b\x03\x4c\x5d", 6)),
            "00:1A:2B:03:4C:5D");
  EXPECT_EQ(format_hardware_address(std::string("\xff\x01\x00\x00\x0a\xf0", 6)),
            "FF:01:00:00:0A:F0");
}

TEST(HostIdentity, DiscoveredAddressesHaveTheirForms) {
  // This machine has a network adapter; its address must come out in the fixed form.
  const std::string mac = discover_mac_address();
  ASSERT_EQ(mac.size(), 17u);
  for (std::size_t i = 2; i < mac.size(); i += 3) EXPECT_EQ(mac[i], ':');

  boost::asio::io_context io;
  try {
    const std::string ip = discover_ip_address(io);
    EXPECT_NE(ip.rfind("127.", 0), 0u) << ip;
  } catch (const std::runtime_error& e) {
    // A host whose name resolves only to loopback addresses says so.
    EXPECT_EQ(std::string(e.what()).rfind("unable to determine local IP address", 0), 0u);
  }
}

TEST(HostIdentity, AHostNameOnLoopbackOnlyGivesTheFirstInterfaceAddress) {
  using boost::asio::ip::make_address;
  const std::vector<std::string> interfaces = {"192.0.2.7", "198.51.100.1"};
  EXPECT_EQ(choose_ip_address({make_address("::1"), make_address("10.1.2.3")}, interfaces),
            "10.1.2.3");
  EXPECT_EQ(choose_ip_address({make_address("127.0.1.1"), make_address("fe80::1")}, interfaces),
            "192.0.2.7");
  EXPECT_EQ(choose_ip_address({}, interfaces), "192.0.2.7");
  EXPECT_EQ(choose_ip_address({make_address("127.0.0.1")}, {}), std::nullopt);
}

TEST(HostIdentity, DefaultPathsFollowTheHome) {
  const std::string home = home_directory();
  const char* variable = std::getenv("TAMRO_HOME");
  EXPECT_EQ(home, variable ? variable : "/opt/tamro");
  EXPECT_EQ(default_configuration_file(), home + "/config/configuration.xml");
  EXPECT_EQ(default_log_file(), home + "/log/tamro.log");
  EXPECT_EQ(default_mib_directory(), home + "/snmp/mibs");
  EXPECT_EQ(default_persistent_directory(), home + "/snmp/persist");
}

}  // namespace
}  // namespace tamro
