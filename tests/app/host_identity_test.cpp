#include <gtest/gtest.h>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/host_discovery.hpp"
#include "app/paths.hpp"

namespace tamro {
namespace {

using boost::asio::ip::make_address;
using platform::network_interface;

TEST(HostIdentity, HardwareAddressKeepsLeadingZeros) {
  EXPECT_EQ(format_hardware_address(std::string("\x00\x1a\x2b\x03\x4c\x5d", 6)),
            "00:1A:2B:03:4C:5D");
  EXPECT_EQ(format_hardware_address(std::string("\xff\x01\x00\x00\x0a\xf0", 6)),
            "FF:01:00:00:0A:F0");
}

TEST(HostIdentity, DiscoveredAddressesHaveTheirForms) {
  boost::asio::io_context io;
  try {
    const std::string ip = discover_ip_address(io);
    EXPECT_NE(ip.rfind("127.", 0), 0u) << ip;
    // This machine's interface that carries the address has a hardware address.
    const std::string mac = discover_mac_address(io, ip);
    ASSERT_EQ(mac.size(), 17u);
    for (std::size_t i = 2; i < mac.size(); i += 3) EXPECT_EQ(mac[i], ':');
  } catch (const std::runtime_error& e) {
    // A host whose interfaces are all down or loopback says so.
    EXPECT_EQ(std::string(e.what()).rfind("unable to determine local IP address", 0), 0u);
  }
}

network_interface interface(const std::string& name, bool up, const std::string& mac,
                            std::vector<std::string> addresses) {
  network_interface made;
  made.name = name;
  made.up = up;
  made.loopback = name == "lo";
  made.hardware_address = mac;
  for (const auto& text : addresses) made.addresses.push_back(make_address(text));
  return made;
}

TEST(HostIdentity, TheAddressAndTheMacComeFromOneInterfaceThatIsUp) {
  const std::string mac(6, '\x02');
  const network_interface lo = interface("lo", true, "", {"127.0.0.1", "::1"});
  const network_interface down = interface("ifb0", false, std::string(6, '\xaa'), {"10.9.9.9"});
  const network_interface eth0 = interface("eth0", true, mac, {"192.0.2.2", "fe80::2"});
  const network_interface eth1 = interface("eth1", true, mac, {"198.51.100.1"});
  const network_interface tun0 = interface("tun0", true, "", {"10.8.0.2"});
  const network_interface v6 = interface("eth2", true, mac, {"fe80::7", "2001:db8::7"});
  struct scenario {
    const char* what;
    std::vector<network_interface> interfaces;
    std::vector<std::string> resolved;
    std::string address;  // empty: none
    std::string carrier;
  };
  const std::vector<scenario> scenarios = {
      {"first listed is down", {lo, down, eth0, eth1}, {}, "192.0.2.2", "eth0"},
      {"the host name's address",
       {lo, eth0, eth1},
       {"::1", "198.51.100.1"},
       "198.51.100.1",
       "eth1"},
      {"a resolved address no interface carries", {eth0}, {"203.0.113.5"}, "192.0.2.2", "eth0"},
      {"loopback names only", {lo, eth1}, {"127.0.1.1", "::1"}, "198.51.100.1", "eth1"},
      {"without a hardware address last", {tun0, eth1}, {}, "198.51.100.1", "eth1"},
      {"IPv6 only without IPv4, global first", {lo, v6}, {}, "2001:db8::7", "eth2"},
      {"IPv4 before a resolved IPv6", {v6, eth1}, {"2001:db8::7"}, "198.51.100.1", "eth1"},
      {"nothing up", {lo, down}, {"10.9.9.9"}, "", ""},
  };
  for (const scenario& s : scenarios) {
    std::vector<boost::asio::ip::address> resolved;
    for (const auto& text : s.resolved) resolved.push_back(make_address(text));
    const auto chosen = choose_host_address(resolved, s.interfaces);
    if (s.address.empty()) {
      EXPECT_FALSE(chosen) << s.what;
      continue;
    }
    ASSERT_TRUE(chosen) << s.what;
    EXPECT_EQ(chosen->address.to_string(), s.address) << s.what;
    EXPECT_EQ(chosen->carrier->name, s.carrier) << s.what;
  }
}

// Runs the commands (each must succeed) and then the discovery in a network namespace of its
// own, in a child process; returns "IP MAC" or "error: ...", or nothing when the host
// cannot make such a namespace (not root).
std::optional<std::string> discover_in_namespace(const std::vector<std::string>& commands) {
  int channel[2];
  if (::pipe(channel) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    std::string result;
    if (::unshare(CLONE_NEWNET) != 0) ::_exit(77);
    for (const std::string& command : commands)
      if (std::system(("{ " + command + "; } 2>/dev/null").c_str()) != 0) ::_exit(78);
    try {
      boost::asio::io_context io;
      const std::string ip = discover_ip_address(io);
      result = ip + " " + discover_mac_address(io, ip);
    } catch (const std::exception& e) {
      result = std::string("error: ") + e.what();
    }
    const auto written = ::write(channel[1], result.data(), result.size());
    ::_exit(written == static_cast<ssize_t>(result.size()) ? 0 : 1);
  }
  ::close(channel[1]);
  std::string result;
  char buffer[256];
  ssize_t got;
  while ((got = ::read(channel[0], buffer, sizeof buffer)) > 0)
    result.append(buffer, static_cast<std::size_t>(got));
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 77) return std::nullopt;
  EXPECT_NE(WEXITSTATUS(status), 78) << "a command to set up the interfaces failed";
  return result;
}

// ifb0 (listed first, down, no address), eth0 and eth1 (up), and the given address: dummy
// interfaces where the kernel has them, else veth pairs (each end up, the peer unaddressed).
std::vector<std::string> interfaces_with(const std::string& address_command) {
  std::vector<std::string> setup;
  for (const auto& [name, mac] :
       {std::pair{"ifb0", "aa:63:e4:1b:23:da"}, std::pair{"eth0", "02:fc:00:00:00:01"},
        std::pair{"eth1", "02:fc:00:00:00:02"}}) {
    const std::string add = std::string("ip link add ") + name + " address " + mac;
    setup.push_back(add + " type dummy || " + add + " type veth peer name " + name + "p");
  }
  setup.push_back(
      "for link in eth0 eth1 eth0p eth1p; do ! ip link show $link >/dev/null || ip link set "
      "$link up; done");
  setup.push_back(address_command);
  return setup;
}

TEST(HostIdentity, OneInterfaceOfARealHostGivesBothAddresses) {
  const auto v4 = discover_in_namespace(interfaces_with("ip addr add 192.0.2.2/24 dev eth0"));
  if (!v4) GTEST_SKIP() << "no network namespace (needs root)";
  EXPECT_EQ(*v4, "192.0.2.2 02:FC:00:00:00:01");
  // Without IPv4, the global IPv6 address of an interface that is up, with that one's MAC.
  EXPECT_EQ(discover_in_namespace(interfaces_with("ip addr add 2001:db8::2/64 dev eth1 nodad"))
                .value_or(""),
            "2001:db8::2 02:FC:00:00:00:02");
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
