#include "app/host_discovery.hpp"

#include <algorithm>
#include <boost/asio/ip/host_name.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstdio>
#include <stdexcept>
#include <tuple>

namespace tamro {
namespace {

using boost::asio::ip::address;

bool is_loopback(const address& candidate) {
  return candidate.is_v4() ? candidate.to_v4().to_bytes()[0] == 127 : candidate.is_loopback();
}

// The scope of a link-local address names the interface; it is not part of the address the
// server is told.
address without_scope(const address& ip) {
  return ip.is_v6() ? address(boost::asio::ip::address_v6(ip.to_v6().to_bytes())) : ip;
}

struct resolution {
  std::vector<address> addresses;
  boost::system::error_code error;
};

resolution resolve_host_name(boost::asio::io_context& io) {
  resolution result;
  boost::asio::ip::tcp::resolver resolver(io);
  const auto entries =
      resolver.resolve(boost::asio::ip::host_name(), "",
                       boost::asio::ip::resolver_base::address_configured, result.error);
  for (const auto& entry : entries) result.addresses.push_back(entry.endpoint().address());
  return result;
}

}  // namespace

std::string format_hardware_address(const std::string& bytes) {
  std::string text;
  for (unsigned char byte : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X", byte);
    if (!text.empty()) text += ':';
    text += pair;
  }
  return text;
}

std::optional<host_address> choose_host_address(
    const std::vector<address>& resolved,
    const std::vector<platform::network_interface>& interfaces) {
  std::optional<host_address> chosen;
  // Lower ranks first; the list order breaks ties, as the first of equals is kept.
  using rank_type = std::tuple<bool, bool, bool, bool>;
  rank_type best{};
  for (const auto& candidate : interfaces) {
    if (!candidate.up || candidate.loopback) continue;
    for (const address& ip : candidate.addresses) {
      if (is_loopback(ip) || ip.is_unspecified()) continue;
      const bool named = std::find(resolved.begin(), resolved.end(), ip) != resolved.end();
      const rank_type rank{ip.is_v6(), !named, candidate.hardware_address.empty(),
                           ip.is_v6() && ip.to_v6().is_link_local()};
      if (!chosen || rank < best) {
        chosen = host_address{ip, &candidate};
        best = rank;
      }
    }
  }
  return chosen;
}

std::string discover_ip_address(boost::asio::io_context& io) {
  const resolution name = resolve_host_name(io);
  const auto interfaces = platform::network_interfaces();
  if (const auto chosen = choose_host_address(name.addresses, interfaces)) {
    return without_scope(chosen->address).to_string();
  }
  if (name.error)
    throw std::runtime_error("unable to determine local IP address: " + name.error.message());
  throw std::runtime_error("unable to determine local IP address");
}

std::string discover_mac_address(boost::asio::io_context& io, const std::string& ip) {
  const auto interfaces = platform::network_interfaces();
  boost::system::error_code invalid;
  const address wanted = without_scope(boost::asio::ip::make_address(ip, invalid));
  const auto carrier_of_ip = std::find_if(interfaces.begin(), interfaces.end(), [&](const auto& c) {
    return c.up && std::any_of(c.addresses.begin(), c.addresses.end(),
                               [&](const address& held) { return without_scope(held) == wanted; });
  });
  const platform::network_interface* carrier = nullptr;
  if (!invalid && carrier_of_ip != interfaces.end()) {
    carrier = &*carrier_of_ip;
  } else if (const auto chosen = choose_host_address(resolve_host_name(io).addresses, interfaces)) {
    carrier = chosen->carrier;
  }
  if (!carrier) throw std::runtime_error("unable to determine MAC address");
  if (carrier->hardware_address.empty())
    throw std::runtime_error("unable to determine MAC address: interface " + carrier->name +
                             " has none; set reporting/mac-address");
  return format_hardware_address(carrier->hardware_address);
}

}  // namespace tamro
