#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <map>
#include <memory>

#include "app/metrics/metrics_connection.hpp"

namespace tamro {

// The metrics endpoint on the I/O thread: accepts a bounded number of connections and
// answers each request through the responder. Opened for each I/O cycle and closed when a
// drain begins, so that it never keeps the I/O service running.
class metrics_server {
 public:
  // A scrape takes one connection for a moment; many more are idle or hostile clients.
  static constexpr std::size_t most_connections = 64;

  metrics_server(boost::asio::io_context& io, metrics_connection::responder respond);
  metrics_server(const metrics_server&) = delete;
  metrics_server& operator=(const metrics_server&) = delete;
  ~metrics_server();

  // Listens on the endpoint; throws boost::system::system_error when it cannot.
  void open(const boost::asio::ip::tcp::endpoint& endpoint);
  // Stops listening and ends every connection.
  void close();

 private:
  void accept();

  metrics_connection::responder respond_;
  boost::asio::ip::tcp::acceptor acceptor_;
  boost::asio::steady_timer retry_timer_;
  std::map<metrics_connection*, std::shared_ptr<metrics_connection>> connections_;
};

}  // namespace tamro
