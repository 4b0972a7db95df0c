#include "agents/device_address.hpp"

#include <array>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/address_v6.hpp>
#include <cstdio>

namespace tamro {
namespace {

constexpr unsigned default_snmp_port = 161;

// The recommended text form of RFC 5952: groups in lower-case hexadecimal without leading
// zeros, the longest run of two or more zero groups (the first of equal runs) as "::", and
// an IPv4-mapped address with its IPv4 part dotted. Formatted here rather than by the
// system, whose forms differ between platforms.
std::string ipv6_text(const boost::asio::ip::address_v6::bytes_type& bytes) {
  std::array<unsigned, 8> groups{};
  for (std::size_t i = 0; i < groups.size(); ++i)
    groups[i] = static_cast<unsigned>(bytes[2 * i] << 8 | bytes[2 * i + 1]);

  const bool mapped = groups[0] == 0 && groups[1] == 0 && groups[2] == 0 && groups[3] == 0 &&
                      groups[4] == 0 && groups[5] == 0xffff;
  if (mapped) {
    char text[32];
    std::snprintf(text, sizeof text, "::ffff:%u.%u.%u.%u", bytes[12], bytes[13], bytes[14],
                  bytes[15]);
    return text;
  }

  std::size_t best_start = groups.size(), best_length = 1;
  for (std::size_t i = 0; i < groups.size();) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < groups.size() && groups[end] == 0) ++end;
    if (end - i > best_length) {
      best_start = i;
      best_length = end - i;
    }
    i = end;
  }

  std::string text;
  for (std::size_t i = 0; i < groups.size(); ++i) {
    if (i == best_start) {
      text += "::";
      i += best_length - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    char group[8];
    std::snprintf(group, sizeof group, "%x", groups[i]);
    text += group;
  }
  return text;
}

}  // namespace

std::optional<std::string> canonical_ip_address(const std::string& text) {
  boost::system::error_code error;
  if (text.find(':') == std::string::npos) {
    boost::asio::ip::make_address_v4(text, error);
    if (error) return std::nullopt;
    return text;
  }
  // A zone ("%eth0") is no part of the textual forms accepted here.
  if (text.find('%') != std::string::npos) return std::nullopt;
  const auto address = boost::asio::ip::make_address_v6(text, error);
  if (error) return std::nullopt;
  return ipv6_text(address.to_bytes());
}

std::string snmp_peer(const std::string& address, unsigned port) {
  if (address.find(':') != std::string::npos)
    return "udp6:[" + address + "]:" + std::to_string(port);
  if (port == default_snmp_port) return address;
  return address + ":" + std::to_string(port);
}

std::string peer_udp_port(const std::string& peer) {
  const auto bracket = peer.rfind(']');
  const auto colon = peer.find(':', bracket == std::string::npos ? 0 : bracket);
  if (colon == std::string::npos) return "";
  const std::string port = peer.substr(colon + 1);
  return port == std::to_string(default_snmp_port) ? "" : port;
}

}  // namespace tamro
