#include "tests/support/child_process.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

#include "tests/support/temp_dir.hpp"

namespace tamro::test {

bool child_process::running() { return !wait(std::chrono::milliseconds(0)).has_value(); }

std::string child_process::output() const { return read_file(output_file_); }

unsigned short free_port(int type) {
  namespace ip = boost::asio::ip;
  boost::asio::io_context io;
  if (type == SOCK_DGRAM) {
    return ip::udp::socket(io, ip::udp::endpoint(ip::address_v4::loopback(), 0))
        .local_endpoint()
        .port();
  }
  return ip::tcp::socket(io, ip::tcp::endpoint(ip::address_v4::loopback(), 0))
      .local_endpoint()
      .port();
}

bool has_ipv6_loopback() {
  namespace ip = boost::asio::ip;
  boost::asio::io_context io;
  ip::udp::socket socket(io);
  boost::system::error_code error;
  socket.open(ip::udp::v6(), error);
  if (!error) socket.bind(ip::udp::endpoint(ip::address_v6::loopback(), 0), error);
  return !error;
}

}  // namespace tamro::test
