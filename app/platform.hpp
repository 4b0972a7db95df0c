#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <string>
#include <vector>

// What differs between Windows and POSIX hosts; each platform folder defines these.
namespace tamro::platform {

const char* default_home();
// Joins the home text and a relative path such as "config/configuration.xml" the platform's way.
std::string home_path(const std::string& home, const char* relative);
// The signal that asks for a configuration reload (SIGBREAK on Windows, SIGHUP on POSIX).
int reload_signal();
// First adapter's hardware address as six bytes; throws std::runtime_error when there is none.
std::string first_adapter_hardware_address();
// IPv4 addresses of the network interfaces other than loopback, in the order the system
// lists them; empty when there is none or the list cannot be read.
std::vector<std::string> interface_ipv4_addresses();
// Whether standard output is the journal's stream (the service manager says so in
// JOURNAL_STREAM), whose lines may carry priority prefixes.
bool console_is_journal();
// Why this process could not append to the file (created when missing), or empty when it
// could; looks without opening or creating anything.
std::string write_access_problem(const std::string& path);
// Lets the process hold one socket per device in flight.
void raise_open_file_limit();
// Before a listening socket's bind: a restart may bind its port again at once, and no other
// process may bind the port while it listens (SO_EXCLUSIVEADDRUSE on Windows, where
// SO_REUSEADDR would let one). Throws boost::system::system_error.
void set_listener_options(boost::asio::ip::tcp::acceptor& acceptor);

}  // namespace tamro::platform
