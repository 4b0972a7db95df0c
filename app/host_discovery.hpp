#pragma once

#include <boost/asio/io_context.hpp>
#include <string>

namespace tamro {

// Hardware address of the first network adapter, as 00:1A:2B:03:4C:5D.
// Throws std::runtime_error("unable to determine MAC address").
std::string discover_mac_address();

// First IPv4 address outside 127.0.0.0/8 that the host name resolves to.
// Throws std::runtime_error("unable to determine local IP address[: reason]").
std::string discover_ip_address(boost::asio::io_context& io);

// Six raw bytes as two upper-case hexadecimal digits each, joined by ":".
std::string format_hardware_address(const std::string& bytes);

}  // namespace tamro
