#pragma once

#include <boost/asio/ssl/stream.hpp>
#include <memory>
#include <string>

#include "reporting/connection.hpp"
#include "reporting/tls_client_context.hpp"

namespace tamro {

// An HTTP exchange over TLS. The handshake lets verification failures through (they are
// recorded) so that the certificate checks afterwards can accept the listed ones. The TLS
// context and the sessions to resume are shared with the other exchanges of the agent.
class https_stream : public connection {
 public:
  https_stream(boost::asio::io_context& io, std::shared_ptr<tls_client_context> tls);

 protected:
  boost::asio::ip::tcp::socket& socket() override { return socket_; }
  boost::system::error_code prepare_transport(const option_set& options) override;
  void handshake(const url& target, const option_set& options, handler done) override;
  void write(boost::asio::const_buffer buffer, read_handler done) override;
  void read_some_bytes(boost::asio::mutable_buffer buffer, read_handler done) override;
  void release_transport(bool completed) override;

 private:
  using tls_stream = boost::asio::ssl::stream<boost::asio::ip::tcp::socket&>;

  std::shared_ptr<tls_client_context> tls_context_;
  boost::asio::ip::tcp::socket socket_;
  // A fresh TLS session per open; operations still pending on an older one keep it alive.
  std::shared_ptr<tls_stream> tls_;
};

}  // namespace tamro
