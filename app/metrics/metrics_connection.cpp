#include "app/metrics/metrics_connection.hpp"

#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <chrono>

namespace tamro {
namespace {

namespace http = boost::beast::http;

// A scrape is a short GET: anything bigger or slower is not one. A client that sends nothing
// is dropped soon, so that idle connections cannot hold every place for long; the answer
// may be big and the network slow, so writing it may take longer.
constexpr std::uint32_t header_limit = 8 * 1024;
constexpr std::uint64_t body_limit = 1024;
constexpr std::chrono::seconds request_limit{2};
constexpr std::chrono::seconds answer_limit{10};

}  // namespace

metrics_connection::metrics_connection(boost::asio::ip::tcp::socket socket, responder respond,
                                       done_handler done)
    : stream_(std::move(socket)), respond_(std::move(respond)), done_(std::move(done)) {}

void metrics_connection::start() {
  parser_.emplace();
  parser_->header_limit(header_limit);
  parser_->body_limit(body_limit);
  stream_.expires_after(request_limit);
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
  const request& asked = parser_->get();
  const bool head = asked.method() == http::verb::head;
  if (head) {
    // HEAD is answered as GET would be, Content-Length included, without the body.
    request as_get = asked;
    as_get.method(http::verb::get);
    response_ = respond_(as_get);
  } else {
    response_ = respond_(asked);
  }
  response_.keep_alive(false);
  response_.prepare_payload();
  if (head) response_.body().clear();
  stream_.expires_after(answer_limit);
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
