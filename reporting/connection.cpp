#include "reporting/connection.hpp"

#include <algorithm>
#include <boost/asio/error.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>
#include <cstring>

#include "reporting/http_error.hpp"
#include "reporting/response_parser.hpp"

namespace tamro {
namespace {

namespace asio_error = boost::asio::error;
using boost::system::error_code;

bool is_token(const std::string& text) {
  static const char* const separators = "()<>@,;:\\\"/[]?={}";
  if (text.empty()) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 32 && byte < 127 && !std::strchr(separators, c);
  });
}

bool same_server(const url& a, const url& b) {
  return a.protocol() == b.protocol() && a.host() == b.host() && a.port() == b.port();
}

bool has_control(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 32 || byte == 127;
  });
}

}  // namespace

bool build_request(const url& target, const option_set& options, std::string& request) {
  const auto& method = options.get<http::request_method>().value;
  const auto& body = options.get<http::request_content>().value;
  const auto& content_type = options.get<http::request_content_type>().value;
  const auto& agent = options.get<http::user_agent>().value;
  if (!is_token(method) || has_control(content_type) || has_control(agent)) return false;

  // An empty path would leave the request line without a target.
  auto resource = target.to_string(url::path_component | url::query_component);
  if (resource.empty() || resource[0] != '/') resource.insert(0, "/");

  const bool keep_alive = options.get<http::keep_alive>().value;
  request.clear();
  request.reserve(body.size() + 256);  // with room for the headers: the body is copied once
  request += method + " " + resource + (keep_alive ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n");
  request += "Host: " + target.to_string(url::host_component | url::port_component) + "\r\n";
  request += "Accept: */*\r\n";
  if (!body.empty()) {
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    if (!content_type.empty()) request += "Content-Type: " + content_type + "\r\n";
  }
  if (!agent.empty()) request += "User-Agent: " + agent + "\r\n";
  request += keep_alive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
  request += body;
  return true;
}

connection::connection(boost::asio::io_context& io) : io_(io), resolver_(io) {}

connection::~connection() = default;

error_code connection::prepare_transport(const option_set&) { return {}; }

void connection::release_transport(bool) {}

void connection::post(handler done, error_code error) {
  boost::asio::post(io_, [done = std::move(done), error] { done(error); });
}

void connection::post_read(read_handler done, error_code error, std::size_t bytes) {
  boost::asio::post(io_, [done = std::move(done), error, bytes] { done(error, bytes); });
}

void connection::open(const url& target, const option_set& options, handler done) {
  if (socket().is_open()) {
    if (reusable() && options.get<http::keep_alive>().value && same_server(target_, target))
      return resend(target, options, std::move(done));
    return post(std::move(done), asio_error::already_open);
  }

  const auto generation = ++generation_;
  reset_response();
  reused_ = false;
  target_ = target;
  options_ = options;
  if (!build_request(target_, options_, request_))
    return post(std::move(done), asio_error::invalid_argument);

  auto error = prepare_transport(options_);
  if (error) return post(std::move(done), error);
  error_code not_literal;
  const auto literal = boost::asio::ip::make_address(target_.host(), not_literal);
  // Open from here on, so that a second open is refused; each connect opens it again for
  // its endpoint's address family.
  socket().open(
      !not_literal && literal.is_v6() ? boost::asio::ip::tcp::v6() : boost::asio::ip::tcp::v4(),
      error);
  if (error) return post(std::move(done), error);

  endpoints_.clear();
  if (!not_literal) {
    // An address needs no lookup: the resolver's thread hand-off and the host's interface
    // query would cost more than the rest of a heartbeat's exchange.
    endpoints_.emplace_back(literal, target_.port());
    return connect(0, asio_error::host_not_found, generation, std::move(done));
  }
  resolver_.async_resolve(
      target_.host(), std::to_string(target_.port()),
      boost::asio::ip::tcp::resolver::address_configured,
      [self = shared_from_this(), generation, done = std::move(done)](
          error_code error, boost::asio::ip::tcp::resolver::results_type results) mutable {
        if (self->stale(generation)) return done(asio_error::operation_aborted);
        if (error) return done(error);
        for (const auto& entry : results) self->endpoints_.push_back(entry.endpoint());
        self->connect(0, asio_error::host_not_found, generation, std::move(done));
      });
}

void connection::connect(std::size_t index, error_code last_error, unsigned generation,
                         handler done) {
  if (index >= endpoints_.size()) return done(last_error);
  const auto endpoint = endpoints_[index];
  error_code ignored;
  socket().close(ignored);
  socket().async_connect(endpoint, [self = shared_from_this(), index, generation,
                                    done = std::move(done)](error_code error) mutable {
    if (self->stale(generation)) return done(asio_error::operation_aborted);
    if (error) return self->connect(index + 1, error, generation, std::move(done));
    self->connected(generation, std::move(done));
  });
}

void connection::connected(unsigned generation, handler done) {
  error_code error;
  socket().set_option(boost::asio::ip::tcp::no_delay(true), error);
  if (error) return done(error);

  handshake(
      target_, options_,
      [self = shared_from_this(), generation, done = std::move(done)](error_code error) mutable {
        if (self->stale(generation)) return done(asio_error::operation_aborted);
        if (error) return done(error);
        self->send_request(generation, std::move(done));
      });
}

// The connection, its TLS session and its checks stay those of the first open.
void connection::resend(const url& target, const option_set& options, handler done) {
  const auto generation = ++generation_;  // ends the idle watch
  error_code ignored;
  socket().cancel(ignored);
  reset_response();
  reused_ = true;
  target_ = target;
  options_ = options;
  if (!build_request(target_, options_, request_)) {
    close();
    return post(std::move(done), asio_error::invalid_argument);
  }
  send_request(generation, std::move(done));
}

void connection::send_request(unsigned generation, handler done) {
  write(boost::asio::buffer(request_), [self = shared_from_this(), generation,
                                        done = std::move(done)](error_code error, std::size_t) {
    if (self->stale(generation)) return done(asio_error::operation_aborted);
    if (error) return done(error);
    self->read_head(generation, std::move(done));
  });
}

void connection::watch_idle(std::function<void()> lost) {
  socket().async_wait(
      boost::asio::socket_base::wait_read,
      [self = shared_from_this(), generation = generation_, lost = std::move(lost)](error_code) {
        if (self->stale(generation)) return;
        self->close();
        lost();
      });
}

bool connection::reusable() const {
  return server_keeps_ && status_ == 200 && body_complete() && reply_.empty();
}

void connection::read_head(unsigned generation, handler done) {
  error_code result;
  if (process_head(result)) return done(result);
  if (head_size_ + reply_.size() >= http::max_head_size)
    return done(http::error::response_headers_too_large);

  read_some_bytes(boost::asio::buffer(chunk_),
                  [self = shared_from_this(), generation, done = std::move(done)](
                      error_code error, std::size_t bytes) mutable {
                    if (self->stale(generation)) return done(asio_error::operation_aborted);
                    self->reply_.append(self->chunk_.data(), bytes);
                    if (bytes > 0) self->reply_started_ = true;
                    if (error) return done(error);
                    self->read_head(generation, std::move(done));
                  });
}

bool connection::process_head(error_code& result) {
  static const std::string line_end = "\r\n";
  for (;;) {
    std::size_t length;
    if (phase_ == head_phase::header_block) {
      // The block ends at the first empty line, which may be the very first line.
      if (reply_.compare(0, 2, line_end) == 0) {
        length = 2;
      } else {
        const auto end = reply_.find("\r\n\r\n");
        if (end == std::string::npos) return false;
        length = end + 4;
      }
    } else {
      const auto end = reply_.find(line_end);
      if (end == std::string::npos) return false;
      length = end + 2;
    }
    if (head_size_ + length > http::max_head_size) {
      result = http::error::response_headers_too_large;
      return true;
    }
    std::string text = reply_.substr(0, length);
    reply_.erase(0, length);
    head_size_ += length;

    switch (phase_) {
      case head_phase::after_interim_status:
        // An interim response is followed by its own (usually empty) header block; a server
        // that omits it goes straight on with the final status line.
        if (text.compare(0, 5, "HTTP/") != 0) {
          phase_ = text == line_end ? head_phase::status_line : head_phase::interim_headers;
          break;
        }
        [[fallthrough]];
      case head_phase::status_line: {
        const auto line = http::parse_status_line(text);
        if (!line) {
          result = http::error::malformed_status_line;
          return true;
        }
        status_ = line->status;
        persistent_version_ =
            line->major_version > 1 || (line->major_version == 1 && line->minor_version >= 1);
        phase_ = status_ == 100 ? head_phase::after_interim_status : head_phase::header_block;
        break;
      }
      case head_phase::interim_headers:
        if (text == line_end) phase_ = head_phase::status_line;
        break;
      case head_phase::header_block: {
        headers_ = std::move(text);
        const auto fields = http::parse_header_block(headers_);
        if (!fields) {
          result = http::error::malformed_response_headers;
          return true;
        }
        content_type_ = fields->content_type;
        content_length_ = fields->content_length;
        location_ = fields->location;
        if (options_.get<http::keep_alive>().value) {
          // A chunked body's end is in the body; a length next to it is not to be trusted, and
          // neither is the connection afterwards.
          chunked_ = fields->chunked;
          if (chunked_) content_length_ = 0;
          const bool framed =
              chunked_ || (fields->has_content_length && !fields->transfer_encoding);
          const bool kept = persistent_version_
                                ? !fields->connection_close
                                : fields->connection_keep_alive && !fields->connection_close;
          server_keeps_ = kept && framed && !fields->conflicting_lengths &&
                          !(fields->transfer_encoding && fields->has_content_length);
        }
        result = status_ == 200 ? error_code() : http::make_status_error(status_);
        return true;
      }
    }
  }
}

void connection::read_some(boost::asio::mutable_buffer buffer, read_handler done) {
  if (buffer.size() == 0) return post_read(std::move(done), {}, 0);
  if (chunked_) return read_chunked(buffer, std::move(done));
  // A kept connection has nothing more of this response: reading on would wait for the next.
  if (server_keeps_ && body_complete()) return post_read(std::move(done), asio_error::eof, 0);

  const auto room = http::max_body_size - std::min(body_size_, http::max_body_size);
  if (room == 0) {
    // At the limit: one more byte means too large, the end of the stream means done.
    if (!reply_.empty()) return post_read(std::move(done), http::error::response_body_too_large, 0);
    return read_some_bytes(boost::asio::buffer(&probe_, 1),
                           [done = std::move(done)](error_code error, std::size_t) {
                             done(error ? error : http::error::response_body_too_large, 0);
                           });
  }
  if (buffer.size() > room) buffer = boost::asio::buffer(buffer.data(), room);

  if (!reply_.empty()) {
    const auto bytes = std::min(buffer.size(), reply_.size());
    std::memcpy(buffer.data(), reply_.data(), bytes);
    reply_.erase(0, bytes);
    body_size_ += bytes;
    return post_read(std::move(done), {}, bytes);
  }
  read_some_bytes(buffer, [self = shared_from_this(), done = std::move(done)](error_code error,
                                                                              std::size_t bytes) {
    self->body_size_ += bytes;
    done(error, bytes);
  });
}

void connection::read_chunked(boost::asio::mutable_buffer buffer, read_handler done) {
  if (chunks_.done()) return post_read(std::move(done), asio_error::eof, 0);
  // At the limit one more byte is too large; the end of the body still completes.
  const auto room = http::max_body_size - std::min(body_size_, http::max_body_size);
  char* out = room == 0 ? &probe_ : static_cast<char*>(buffer.data());
  std::size_t produced = 0;
  const auto consumed =
      chunks_.decode(reply_, out, room == 0 ? 1 : std::min(buffer.size(), room), produced);
  reply_.erase(0, consumed);
  if (room == 0 && produced > 0)
    return post_read(std::move(done), http::error::response_body_too_large, 0);
  body_size_ += produced;
  // Bytes decoded before a fault are handed out first; the next read reports it.
  if (produced > 0) return post_read(std::move(done), {}, produced);
  if (chunks_.failed()) return post_read(std::move(done), http::error::malformed_chunked_body, 0);
  if (chunks_.done()) return post_read(std::move(done), asio_error::eof, 0);

  read_some_bytes(boost::asio::buffer(chunk_),
                  [self = shared_from_this(), buffer, done = std::move(done)](
                      error_code error, std::size_t bytes) mutable {
                    self->reply_.append(self->chunk_.data(), bytes);
                    if (error) return done(error, 0);
                    self->read_chunked(buffer, std::move(done));
                  });
}

void connection::close() {
  ++generation_;
  resolver_.cancel();
  release_transport(body_complete());
  error_code ignored;
  socket().close(ignored);
  reset_response();
}

void connection::reset_response() {
  request_.clear();
  reply_.clear();
  phase_ = head_phase::status_line;
  head_size_ = 0;
  body_size_ = 0;
  headers_.clear();
  content_type_.clear();
  content_length_ = 0;
  location_.clear();
  status_ = 0;
  persistent_version_ = false;
  server_keeps_ = false;
  chunked_ = false;
  chunks_ = http::chunked_decoder();
  reply_started_ = false;
}

}  // namespace tamro
