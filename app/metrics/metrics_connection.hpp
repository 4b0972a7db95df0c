#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <functional>
#include <memory>
#include <optional>

namespace tamro {

// One client of the metrics endpoint: reads one request (bounded in size and time), writes
// the answer (to HEAD as to GET, without the body) and closes. Lives as long as an operation of it
// is pending.
class metrics_connection : public std::enable_shared_from_this<metrics_connection> {
 public:
  using request = boost::beast::http::request<boost::beast::http::string_body>;
  using response = boost::beast::http::response<boost::beast::http::string_body>;
  using responder = std::function<response(const request&)>;
  using done_handler = std::function<void(metrics_connection*)>;

  metrics_connection(boost::asio::ip::tcp::socket socket, responder respond, done_handler done);
  metrics_connection(const metrics_connection&) = delete;
  metrics_connection& operator=(const metrics_connection&) = delete;

  void start();
  // Ends the exchange now; done is not called.
  void close();

 private:
  void on_read(const boost::system::error_code& error);
  void finish();

  boost::beast::tcp_stream stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  response response_;
  responder respond_;
  done_handler done_;
};

}  // namespace tamro
