#include "reporting/url_stream.hpp"

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <limits>
#include <optional>
#include <stdexcept>

#include "reporting/connection_pool.hpp"
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
  exchange(boost::asio::io_context& io, std::shared_ptr<tls_client_context> tls,
           std::shared_ptr<connection_pool> pool)
      : io_(io), tls_(std::move(tls)), pool_(std::move(pool)), timer_(io) {}

  void open(const url& target, open_handler done);
  void read_some(boost::asio::mutable_buffer buffer, read_handler done);
  void close();
  void release();
  connection* active() const { return active_.get(); }
  bool retried() const { return retried_; }

  option_set options;
  url last_target;  // where the last open went

 private:
  void start(const url& target, bool may_take_kept, open_handler done);
  std::shared_ptr<connection> connection_for(const url& target, bool may_take_kept);
  void opened(connection& used, const url& target, error_code error, open_handler done);
  static bool may_follow(const url& from, const url& next);
  void start_timer();
  void stop_timer();
  void expire();
  void post(read_handler done, error_code error, std::size_t bytes);

  boost::asio::io_context& io_;
  std::shared_ptr<tls_client_context> tls_;
  std::shared_ptr<connection_pool> pool_;
  // The connection of the current URL; null for a scheme that is not http or https.
  std::shared_ptr<connection> active_;
  boost::asio::steady_timer timer_;
  unsigned timer_generation_ = 0;
  bool timed_out_ = false;
  bool retried_ = false;
  int redirects_ = 0;
};

void url_stream::exchange::open(const url& target, open_handler done) {
  redirects_ = 0;
  timed_out_ = false;
  retried_ = false;
  start_timer();
  start(target, true, std::move(done));
}

void url_stream::exchange::start(const url& target, bool may_take_kept, open_handler done) {
  last_target = target;
  const auto& protocol = target.protocol();
  if (protocol != "http" && protocol != "https") {
    // file: among them: a local file read as the reply would pass for a delivery.
    active_.reset();
    stop_timer();
    boost::asio::post(io_, [done = std::move(done)] { done(asio_error::operation_not_supported); });
    return;
  }
  auto used = connection_for(target, may_take_kept);
  active_ = used;
  used->open(
      target, options,
      [self = shared_from_this(), used, target, done = std::move(done)](error_code error) mutable {
        self->opened(*used, target, error, std::move(done));
      });
}

// The connection of this stream while it is open (it refuses a second exchange at once,
// unless it is kept for the next), else a kept one to the server, else the closed one of
// this stream when its scheme fits, else a new one.
std::shared_ptr<connection> url_stream::exchange::connection_for(const url& target,
                                                                 bool may_take_kept) {
  const bool https = target.protocol() == "https";
  if (active_ && active_->is_open()) return active_;
  if (may_take_kept && pool_ && options.get<http::keep_alive>().value)
    if (auto kept = pool_->take(target)) return kept;
  if (active_ && active_->target().protocol() == target.protocol()) return active_;
  if (!https) return std::make_shared<http_stream>(io_);
  if (!tls_) tls_ = std::make_shared<tls_client_context>();
  return std::make_shared<https_stream>(io_, tls_);
}

void url_stream::exchange::opened(connection& used, const url& target, error_code error,
                                  open_handler done) {
  if (error && timed_out_) error = asio_error::timed_out;
  // The server may have closed a kept connection just as the request went out.
  if (error && error != asio_error::timed_out && error != asio_error::operation_aborted &&
      used.reused() && !used.reply_started() && !retried_) {
    retried_ = true;
    used.close();
    active_.reset();
    return start(target, false, std::move(done));
  }
  if (error.category() == http::http_category() && (error.value() == 301 || error.value() == 302)) {
    if (++redirects_ > max_redirects) {
      error = http::error::too_many_redirects;
    } else if (const auto next = absolute_url(used.location());
               next && may_follow(used.target(), *next)) {
      used.close();
      return start(*next, true, std::move(done));
    } else {
      error = http::error::bad_redirect_location;
    }
  }
  if (error) stop_timer();
  done(error);
}

// A redirect may lead to http or https only, and never from https back to plain http: the
// heartbeat would go out in clear.
bool url_stream::exchange::may_follow(const url& from, const url& next) {
  return next.protocol() == "https" || (next.protocol() == "http" && from.protocol() != "https");
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
  if (active_) active_->close();
}

void url_stream::exchange::read_some(boost::asio::mutable_buffer buffer, read_handler done) {
  if (timed_out_) return post(std::move(done), asio_error::timed_out, 0);
  if (!active_) return post(std::move(done), asio_error::operation_not_supported, 0);
  active_->read_some(buffer, [self = shared_from_this(), used = active_, done = std::move(done)](
                                 error_code error, std::size_t bytes) {
    if (error && self->timed_out_) error = asio_error::timed_out;
    if (error || used->body_complete()) self->stop_timer();
    done(error, bytes);
  });
}

void url_stream::exchange::post(read_handler done, error_code error, std::size_t bytes) {
  boost::asio::post(io_, [done = std::move(done), error, bytes] { done(error, bytes); });
}

void url_stream::exchange::close() {
  stop_timer();
  timed_out_ = false;
  if (active_) active_->close();
}

void url_stream::exchange::release() {
  if (!pool_ || !active_ || timed_out_ || !active_->reusable()) return close();
  stop_timer();
  pool_->keep(std::move(active_));
  active_.reset();
}

url_stream::url_stream(boost::asio::io_context& io, std::shared_ptr<tls_client_context> tls,
                       std::shared_ptr<connection_pool> pool)
    : exchange_(std::make_shared<exchange>(io, std::move(tls), std::move(pool))) {}

url_stream::~url_stream() { exchange_->close(); }

option_set& url_stream::options() { return exchange_->options; }

const url& url_stream::target() const { return exchange_->last_target; }

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

void url_stream::release() { exchange_->release(); }

bool url_stream::retried() const { return exchange_->retried(); }

bool url_stream::chunked() const {
  const auto* used = exchange_->active();
  return used && used->chunked();
}

bool url_stream::body_complete() const {
  const auto* used = exchange_->active();
  return used && used->body_complete();
}

}  // namespace tamro
