#include "app/metrics/metrics_connection.hpp"

#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <chrono>

namespace tamro {
namespace {

namespace http = boost::beast::http;

// A scrape is a short GET: anything bigger or slower is not one.
constexpr std::uint32_t header_limit = 8 * 1024;
constexpr std::uint64_t body_limit = 1024;
constexpr std::chrono::seconds exchange_limit{10};

}  // namespace

metrics_connection::metrics_connection(boost::asio::ip::tcp::socket socket, responder respond,
                                       done_handler done)
    : stream_(std::move(socket)), respond_(std::move(respond)), done_(std::move(done)) {}

void metrics_connection::start() {
  parser_.emplace();
  parser_->header_limit(header_limit);
  parser_->body_limit(body_limit);
  stream_.expires_after(exchange_limit);
  http::async_read(stream_, buffer_, *parser_,
                   [self = shared_from_this()](const boost::system::error_code& error,
                                               std::size_t) { self->on_read(error); });
}

void metrics_connection::on_read(const boost::system::error_code& error) {
  if (error == boost::asio::error::operation_aborted) return;  // closed by the server
  if (error) {
    finish();
    return;
  }
  response_ = respond_(parser_->get());
  response_.keep_alive(false);
  response_.prepare_payload();
  http::async_write(
      stream_, response_,
      [self = shared_from_this()](const boost::system::error_code& written, std::size_t) {
        if (written != boost::asio::error::operation_aborted) self->finish();
      });
}

void metrics_connection::finish() {
  boost::system::error_code ignored;
  stream_.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
  stream_.close();
  if (done_) std::exchange(done_, nullptr)(this);
}

void metrics_connection::close() {
  done_ = nullptr;
  stream_.close();
}

}  // namespace tamro
