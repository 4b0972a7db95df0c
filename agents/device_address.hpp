#pragma once

#include <optional>
#include <string>

namespace tamro {

// An IP address text as the agent keeps and shows it: IPv4 as written, IPv6 in its
// canonical compressed lower-case form, so that every way of writing one address names the
// same device; none for a text that is neither.
std::optional<std::string> canonical_ip_address(const std::string& text);

// The SNMP library's peer name for a device address (as canonical_ip_address gives it):
// "ADDRESS" or "ADDRESS:PORT" for IPv4, "udp6:[ADDRESS]:PORT" for IPv6; an IPv4 peer names
// its port only when it is not 161.
std::string snmp_peer(const std::string& address, unsigned port);

// The port a peer name of snmp_peer carries when it is not 161, else empty: what the devices
// file keeps as the device's udp-port.
std::string peer_udp_port(const std::string& peer);

}  // namespace tamro
