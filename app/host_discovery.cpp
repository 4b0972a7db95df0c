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

std::string discover_ip_address(boost::asio::io_context& io) {
  const std::string host = boost::asio::ip::host_name();
  boost::asio::ip::tcp::resolver resolver(io);
  boost::system::error_code error;
  const auto results =
      resolver.resolve(host, "", boost::asio::ip::resolver_base::address_configured, error);
  if (error) throw std::runtime_error("unable to determine local IP address: " + error.message());
  for (const auto& entry : results) {
    const auto address = entry.endpoint().address();
    if (address.is_v4() && address.to_v4().to_bytes()[0] != 127) return address.to_string();
  }
  throw std::runtime_error("unable to determine local IP address");
}

}  // namespace tamro
