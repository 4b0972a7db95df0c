#include "reporting/url_stream.hpp"

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <limits>
#include <optional>
#include <stdexcept>

#include "reporting/http_error.hpp"
#include "reporting/http_stream.hpp"
#include "reporting/https_stream.hpp"
#include "reporting/tls_client_context.hpp"

namespace tamro {
namespace {

namespace asio_error = boost::asio::error;
using boost::system::error_code;

constexpr int max_redirects = 10;

const std::string& empty_text() {
  static const std::string text;
  return text;
}

std::optional<url> absolute_url(const std::string& text) {
  try {
    return url::from_string(text);
  } catch (const std::invalid_argument&) {
    return std::nullopt;
  }
}

}  // namespace

// The state of a url_stream, shared with the handlers in flight so that they can finish
// safely after the url_stream itself is gone.
class url_stream::exchange : public std::enable_shared_from_this<exchange> {
 public:
  exchange(boost::asio::io_context& io, std::shared_ptr<tls_client_context> tls)
      : io_(io), tls_(std::move(tls)), timer_(io) {}

  void open(const url& target, open_handler done);
  void read_some(boost::asio::mutable_buffer buffer, read_handler done);
  void close();
  connection* active() const;

  option_set options;
  url target;

 private:
  enum class scheme { none, http, https };

  void start(const url& target, open_handler done);
  void opened(connection& used, error_code error, open_handler done);
  bool may_follow(const url& next) const;
  void start_timer();
  void stop_timer();
  void expire();
  void post(read_handler done, error_code error, std::size_t bytes);
  void close_connections();

  boost::asio::io_context& io_;
  scheme scheme_ = scheme::none;
  std::shared_ptr<tls_client_context> tls_;
  // Made when a URL of their scheme first needs them: most streams only ever use one.
  std::shared_ptr<http_stream> http_;
  std::shared_ptr<https_stream> https_;
  boost::asio::steady_timer timer_;
  unsigned timer_generation_ = 0;
  bool timed_out_ = false;
  int redirects_ = 0;
};

void url_stream::exchange::open(const url& target, open_handler done) {
  redirects_ = 0;
  timed_out_ = false;
  start_timer();
  start(target, std::move(done));
}

void url_stream::exchange::start(const url& next, open_handler done) {
  target = next;
  const auto& protocol = target.protocol();
  std::shared_ptr<connection> used;
  if (protocol == "http") {
    scheme_ = scheme::http;
    if (!http_) http_ = std::make_shared<http_stream>(io_);
    used = http_;
  } else if (protocol == "https") {
    scheme_ = scheme::https;
    if (!tls_) tls_ = std::make_shared<tls_client_context>();
    if (!https_) https_ = std::make_shared<https_stream>(io_, tls_);
    used = https_;
  } else {
    // file: among them: a local file read as the reply would pass for a delivery.
    scheme_ = scheme::none;
    stop_timer();
    boost::asio::post(io_, [done = std::move(done)] { done(asio_error::operation_not_supported); });
    return;
  }
  used->open(target, options,
             [self = shared_from_this(), used, done = std::move(done)](error_code error) mutable {
               self->opened(*used, error, std::move(done));
             });
}

void url_stream::exchange::opened(connection& used, error_code error, open_handler done) {
  if (error && timed_out_) error = asio_error::timed_out;
  if (error.category() == http::http_category() && (error.value() == 301 || error.value() == 302)) {
    if (++redirects_ > max_redirects) {
      error = http::error::too_many_redirects;
    } else if (const auto next = absolute_url(used.location()); next && may_follow(*next)) {
      used.close();
      return start(*next, std::move(done));
    } else {
      error = http::error::bad_redirect_location;
    }
  }
  if (error) stop_timer();
  done(error);
}

// A redirect may lead to http or https only, and never from https back to plain http: the
// heartbeat would go out in clear.
bool url_stream::exchange::may_follow(const url& next) const {
  return next.protocol() == "https" || (next.protocol() == "http" && scheme_ != scheme::https);
}

void url_stream::exchange::start_timer() {
  const auto generation = ++timer_generation_;
  timer_.cancel();
  const auto limit = options.get<http::timeout>().value;
  if (limit.count() <= 0) return;
  timer_.expires_after(limit);
  timer_.async_wait([weak = weak_from_this(), generation](error_code error) {
    auto self = weak.lock();
    if (error || !self || self->timer_generation_ != generation) return;
    self->expire();
  });
}

// The exchange is over; a pending timer would also keep io_context::run() going.
void url_stream::exchange::stop_timer() {
  ++timer_generation_;
  timer_.cancel();
}

void url_stream::exchange::expire() {
  timed_out_ = true;
  close_connections();
}

void url_stream::exchange::close_connections() {
  if (http_) http_->close();
  if (https_) https_->close();
}

void url_stream::exchange::read_some(boost::asio::mutable_buffer buffer, read_handler done) {
  if (timed_out_) return post(std::move(done), asio_error::timed_out, 0);
  switch (scheme_) {
    case scheme::none:
      return post(std::move(done), asio_error::operation_not_supported, 0);
    case scheme::http:
    case scheme::https:
      active()->read_some(buffer, [self = shared_from_this(), done = std::move(done)](
                                      error_code error, std::size_t bytes) {
        if (error && self->timed_out_) error = asio_error::timed_out;
        if (error || self->active()->body_complete()) self->stop_timer();
        done(error, bytes);
      });
      return;
  }
}

void url_stream::exchange::post(read_handler done, error_code error, std::size_t bytes) {
  boost::asio::post(io_, [done = std::move(done), error, bytes] { done(error, bytes); });
}

void url_stream::exchange::close() {
  stop_timer();
  timed_out_ = false;
  close_connections();
}

connection* url_stream::exchange::active() const {
  switch (scheme_) {
    case scheme::http:
      return http_.get();
    case scheme::https:
      return https_.get();
    default:
      return nullptr;
  }
}

url_stream::url_stream(boost::asio::io_context& io, std::shared_ptr<tls_client_context> tls)
    : exchange_(std::make_shared<exchange>(io, std::move(tls))) {}

url_stream::~url_stream() { exchange_->close(); }

option_set& url_stream::options() { return exchange_->options; }

const url& url_stream::target() const { return exchange_->target; }

void url_stream::open(const url& target, open_handler handler) {
  exchange_->open(target, std::move(handler));
}

std::size_t url_stream::content_length() const {
  const auto* used = exchange_->active();
  return used ? used->content_length() : std::numeric_limits<std::size_t>::max();
}

const std::string& url_stream::content_type() const {
  const auto* used = exchange_->active();
  return used ? used->content_type() : empty_text();
}

const std::string& url_stream::location() const {
  const auto* used = exchange_->active();
  return used ? used->location() : empty_text();
}

const std::string& url_stream::headers() const {
  const auto* used = exchange_->active();
  return used ? used->headers() : empty_text();
}

void url_stream::read_some(boost::asio::mutable_buffer buffer, read_handler handler) {
  exchange_->read_some(buffer, std::move(handler));
}

void url_stream::close() { exchange_->close(); }

}  // namespace tamro
