#include "tests/app/scrape.hpp"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

namespace tamro::test {

std::string send_raw(unsigned short port, const std::string& request, const std::string& host) {
  boost::asio::io_context io;
  boost::asio::ip::tcp::socket socket(io);
  boost::system::error_code error;
  socket.connect({boost::asio::ip::make_address(host), port}, error);
  if (error) return "";
  boost::asio::write(socket, boost::asio::buffer(request), error);
  std::string answer;
  boost::asio::read(socket, boost::asio::dynamic_buffer(answer), error);
  return answer;
}

std::string get(unsigned short port, const std::string& path, const std::string& host) {
  const std::string name = host.find(':') == std::string::npos ? host : "[" + host + "]";
  return send_raw(port, "GET " + path + " HTTP/1.1\r\nHost: " + name + "\r\n\r\n", host);
}

std::string body(const std::string& answer) {
  const auto end = answer.find("\r\n\r\n");
  return end == std::string::npos ? "" : answer.substr(end + 4);
}

}  // namespace tamro::test
