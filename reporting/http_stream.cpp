#include "reporting/http_stream.hpp"

#include <boost/asio/write.hpp>

namespace tamro {

http_stream::http_stream(boost::asio::io_context& io) : connection(io), socket_(io) {}

void http_stream::handshake(const url&, const option_set&, handler done) {
  post(std::move(done), {});
}

void http_stream::write(boost::asio::const_buffer buffer, read_handler done) {
  boost::asio::async_write(socket_, buffer, std::move(done));
}

void http_stream::read_some_bytes(boost::asio::mutable_buffer buffer, read_handler done) {
  socket_.async_read_some(buffer, std::move(done));
}

}  // namespace tamro
