#pragma once

#include <array>
#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "reporting/chunked_decoder.hpp"
#include "reporting/option_set.hpp"
#include "reporting/url.hpp"

namespace tamro {

namespace http {
// Past these sizes a response is refused rather than buffered.
constexpr std::size_t max_head_size = 64 * 1024;         // status lines and header block
constexpr std::size_t max_body_size = 16 * 1024 * 1024;  // body bytes handed to the reader
}  // namespace http

// What http and https have in common: connect, send a request, read the response head, then
// hand out the body. With http::keep_alive the request is HTTP/1.1 and, when the server keeps
// the connection open, the next open sends its request over the same connection. The
// transport (plain TCP or TLS) is supplied by the derived class. Handlers keep the
// connection alive through shared_from_this.
class connection : public std::enable_shared_from_this<connection> {
 public:
  using handler = std::function<void(boost::system::error_code)>;
  using read_handler = std::function<void(boost::system::error_code, std::size_t)>;

  virtual ~connection();
  connection(const connection&) = delete;
  connection& operator=(const connection&) = delete;

  // Completes with success on status 200 and with the http status error otherwise; the
  // head fields stay readable either way (a redirect's location, for one). On a reusable()
  // connection to the same host and port the request goes out at once, without connecting.
  void open(const url& target, const option_set& options, handler done);
  // Hands out body bytes; a chunked body is decoded, and its end completes with eof.
  void read_some(boost::asio::mutable_buffer buffer, read_handler done);
  // Cancels pending work (it completes with operation_aborted) and forgets the response.
  void close();

  bool is_open() { return socket().is_open(); }
  // A 200 whose body was read to its framed end, with keep-alive asked for and granted, and
  // no byte after it: the connection may carry the next request.
  bool reusable() const;
  // While the connection is kept unused: lost runs, once the connection is closed, when the
  // server closes it or sends anything, or the socket fails. An open or close ends the watch.
  void watch_idle(std::function<void()> lost);
  // This open went over a connection kept from an earlier one / a byte of its reply came.
  bool reused() const { return reused_; }
  bool reply_started() const { return reply_started_; }
  const url& target() const { return target_; }

  std::size_t content_length() const { return content_length_; }
  const std::string& content_type() const { return content_type_; }
  const std::string& location() const { return location_; }
  const std::string& headers() const { return headers_; }
  int status() const { return status_; }
  bool chunked() const { return chunked_; }
  // True once the announced Content-Length, or the whole chunked body, has been handed out.
  bool body_complete() const {
    return chunked_ ? chunks_.done() : content_length_ > 0 && body_size_ >= content_length_;
  }

 protected:
  explicit connection(boost::asio::io_context& io);

  boost::asio::io_context& io() { return io_; }
  void post(handler done, boost::system::error_code error);
  void post_read(read_handler done, boost::system::error_code error, std::size_t bytes);

  virtual boost::asio::ip::tcp::socket& socket() = 0;
  // Called while the socket is closed, before an open uses it.
  virtual boost::system::error_code prepare_transport(const option_set& options);
  virtual void handshake(const url& target, const option_set& options, handler done) = 0;
  virtual void write(boost::asio::const_buffer buffer, read_handler done) = 0;
  virtual void read_some_bytes(boost::asio::mutable_buffer buffer, read_handler done) = 0;
  // Called by close() before the socket closes; completed: the whole body was handed out.
  virtual void release_transport(bool completed);

 private:
  enum class head_phase { status_line, after_interim_status, interim_headers, header_block };

  // Continuations started before the last close() or open() are stale: they report
  // operation_aborted instead of touching the new exchange.
  bool stale(unsigned generation) const { return generation != generation_; }

  void connect(std::size_t index, boost::system::error_code last_error, unsigned generation,
               handler done);
  void connected(unsigned generation, handler done);
  void resend(const url& target, const option_set& options, handler done);
  void send_request(unsigned generation, handler done);
  void read_head(unsigned generation, handler done);
  // Consumes what the reply buffer holds; false when more bytes are needed.
  bool process_head(boost::system::error_code& result);
  void read_chunked(boost::asio::mutable_buffer buffer, read_handler done);
  void reset_response();

  boost::asio::io_context& io_;
  boost::asio::ip::tcp::resolver resolver_;
  std::vector<boost::asio::ip::tcp::endpoint> endpoints_;
  unsigned generation_ = 0;

  url target_;
  option_set options_;
  std::string request_;
  std::string reply_;
  std::array<char, 8192> chunk_{};
  char probe_ = 0;
  head_phase phase_ = head_phase::status_line;
  std::size_t head_size_ = 0;
  std::size_t body_size_ = 0;

  std::string headers_;
  std::string content_type_;
  std::size_t content_length_ = 0;
  std::string location_;
  int status_ = 0;
  bool persistent_version_ = false;  // HTTP/1.1 or later: kept open unless it says close
  bool server_keeps_ = false;
  bool chunked_ = false;
  http::chunked_decoder chunks_;
  bool reused_ = false;
  bool reply_started_ = false;
};

// The request bytes for a target and options, or nothing when a value would break the
// request's framing (a method that is not a token, a line break in a header value).
bool build_request(const url& target, const option_set& options, std::string& request);

}  // namespace tamro
