#pragma once

#include <boost/asio/ip/address.hpp>
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
struct network_interface {
  std::string name;
  bool up = false;  // and running: an interface without a link carries no traffic
  bool loopback = false;
  std::string hardware_address;  // six bytes; empty when it has none
  std::vector<boost::asio::ip::address> addresses;
};
// The network interfaces in the order the system lists them; empty when the list cannot be
// read.
std::vector<network_interface> network_interfaces();
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
