#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/platform.hpp"

namespace tamro {

// The address that identifies this host, and the interface that carries it, so that the
// IP and MAC addresses reported always belong together. Only an interface that is up and
// not loopback is chosen. IPv4 first: an address the host name resolved to, then one of an
// interface that has a hardware address, in the order the system lists them; only without
// any IPv4 address the same for IPv6 (link-local addresses last). A resolved address that no
// interface carries is not this host's (a stale hosts entry) and is passed over.
struct host_address {
  boost::asio::ip::address address;
  const platform::network_interface* carrier = nullptr;
};
std::optional<host_address> choose_host_address(
    const std::vector<boost::asio::ip::address>& resolved,
    const std::vector<platform::network_interface>& interfaces);

// choose_host_address for this host's name and interfaces.
// Throws std::runtime_error("unable to determine local IP address[: reason]").
std::string discover_ip_address(boost::asio::io_context& io);

// The hardware address of the interface that carries ip (as discover_ip_address chose it, or
// as configured), as 00:1A:2B:03:4C:5D; for an address no interface carries, that of the
// interface discover_ip_address would choose.
// Throws std::runtime_error("unable to determine MAC address[: reason]").
std::string discover_mac_address(boost::asio::io_context& io, const std::string& ip);

// Six raw bytes as two upper-case hexadecimal digits each, joined by ":".
std::string format_hardware_address(const std::string& bytes);

}  // namespace tamro
