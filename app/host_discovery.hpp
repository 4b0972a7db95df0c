#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tamro {

// Hardware address of the first network adapter, as 00:1A:2B:03:4C:5D.
// Throws std::runtime_error("unable to determine MAC address").
std::string discover_mac_address();

// The first IPv4 address outside 127.0.0.0/8 that the host name resolved to, else the first
// IPv4 address of an interface other than loopback: a stock Debian host maps its name to
// 127.0.1.1. Nothing when neither has one.
std::optional<std::string> choose_ip_address(const std::vector<boost::asio::ip::address>& resolved,
                                             const std::vector<std::string>& interfaces);

// choose_ip_address for this host's name and interfaces.
// Throws std::runtime_error("unable to determine local IP address[: reason]").
std::string discover_ip_address(boost::asio::io_context& io);

// Six raw bytes as two upper-case hexadecimal digits each, joined by ":".
std::string format_hardware_address(const std::string& bytes);

}  // namespace tamro
