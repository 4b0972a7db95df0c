#include "app/host_discovery.hpp"

#include <boost/asio/ip/host_name.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstdio>
#include <stdexcept>

#include "app/platform.hpp"

namespace tamro {

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

std::string discover_mac_address() {
  try {
    return format_hardware_address(platform::first_adapter_hardware_address());
  } catch (const std::exception&) {
    throw std::runtime_error("unable to determine MAC address");
  }
}

std::optional<std::string> choose_ip_address(const std::vector<boost::asio::ip::address>& resolved,
                                             const std::vector<std::string>& interfaces) {
  for (const auto& address : resolved)
    if (address.is_v4() && address.to_v4().to_bytes()[0] != 127) return address.to_string();
  if (!interfaces.empty()) return interfaces.front();
  return std::nullopt;
}

std::string discover_ip_address(boost::asio::io_context& io) {
  const std::string host = boost::asio::ip::host_name();
  boost::asio::ip::tcp::resolver resolver(io);
  boost::system::error_code error;
  const auto results =
      resolver.resolve(host, "", boost::asio::ip::resolver_base::address_configured, error);
  std::vector<boost::asio::ip::address> resolved;
  for (const auto& entry : results) resolved.push_back(entry.endpoint().address());
  if (const auto chosen = choose_ip_address(resolved, platform::interface_ipv4_addresses()))
    return *chosen;
  if (error) throw std::runtime_error("unable to determine local IP address: " + error.message());
  throw std::runtime_error("unable to determine local IP address");
}

}  // namespace tamro
