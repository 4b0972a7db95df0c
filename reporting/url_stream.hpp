#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "reporting/option_set.hpp"
#include "reporting/url.hpp"

namespace tamro {

class connection_pool;
class tls_client_context;

// One HTTP(S) exchange for an "http" or "https" URL; any other scheme fails the open with
// operation_not_supported. Handlers run on the io_context, each exactly once and never inside the
// call that started them. Destroying the stream cancels what is pending; those handlers still run
// (with operation_aborted) but must not use the destroyed stream.
class url_stream {
 public:
  using open_handler = std::function<void(boost::system::error_code)>;
  using read_handler = std::function<void(boost::system::error_code, std::size_t)>;

  // https exchanges use tls, shared with other streams; without one the stream makes its own
  // when a URL first needs it. With a pool and http::keep_alive, an open takes a connection
  // kept there and release() puts it back.
  explicit url_stream(boost::asio::io_context& io, std::shared_ptr<tls_client_context> tls = {},
                      std::shared_ptr<connection_pool> pool = {});
  ~url_stream();
  url_stream(const url_stream&) = delete;
  url_stream& operator=(const url_stream&) = delete;

  // Filled by the caller before open; the values are taken when open starts.
  option_set& options();

  // Connects, sends the request and reads the response head; follows 301 and 302
  // redirects and succeeds on status 200 only. A request that fails on a kept connection
  // before any byte of its reply came is sent once more, on a new connection.
  void open(const url& target, open_handler handler);
  // The last open sent its request a second time.
  bool retried() const;

  // The URL the last open went to: the one it was given, or where its redirects led.
  const url& target() const;

  // The Content-Length of the response, 0 when absent; SIZE_MAX before an open.
  std::size_t content_length() const;
  const std::string& content_type() const;
  const std::string& location() const;
  // The raw header block of the response, ending with the empty line.
  const std::string& headers() const;

  // The body is chunked: it has no Content-Length, read_some decodes it and body_complete()
  // tells its end (eof) from a cut.
  bool chunked() const;
  bool body_complete() const;

  // Reads part of the body; the end of the body completes with boost::asio::error::eof.
  void read_some(boost::asio::mutable_buffer buffer, read_handler handler);

  // Cancels pending operations (they complete with operation_aborted) and resets the
  // stream so that it can be opened again.
  void close();
  // Ends the exchange: a connection the server keeps open after a body read to its end goes
  // to the pool, any other is closed.
  void release();

 private:
  class exchange;
  std::shared_ptr<exchange> exchange_;
};

}  // namespace tamro
