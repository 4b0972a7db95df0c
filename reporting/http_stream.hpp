#pragma once

#include "reporting/connection.hpp"

namespace tamro {

// An HTTP exchange over a plain TCP socket.
class http_stream : public connection {
 public:
  explicit http_stream(boost::asio::io_context& io);

 protected:
  boost::asio::ip::tcp::socket& socket() override { return socket_; }
  void handshake(const url& target, const option_set& options, handler done) override;
  void write(boost::asio::const_buffer buffer, read_handler done) override;
  void read_some_bytes(boost::asio::mutable_buffer buffer, read_handler done) override;

 private:
  boost::asio::ip::tcp::socket socket_;
};

}  // namespace tamro
