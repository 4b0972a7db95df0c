#include "reporting/heartbeat_exchange.hpp"

#include <algorithm>
#include <boost/asio/error.hpp>
#include <boost/format.hpp>
#include <limits>

#include "log/logger.hpp"
#include "reporting/agent_statistics.hpp"
#include "reporting/post_failure.hpp"

namespace tamro {
namespace {

constexpr std::size_t largest_read = 65536;

}  // namespace

heartbeat_exchange::heartbeat_exchange(boost::asio::io_context& io,
                                       std::shared_ptr<tls_client_context> tls,
                                       std::shared_ptr<connection_pool> pool, url server,
                                       const option_set& options, std::string agent_name)
    : server_(std::move(server)),
      agent_name_(std::move(agent_name)),
      stream_(io, std::move(tls), std::move(pool)) {
  stream_.options().set_options(options);
}

void heartbeat_exchange::start(std::string heartbeat, heartbeat_sender::completion done) {
  done_ = std::move(done);
  started_ = std::chrono::steady_clock::now();
  stream_.options().set(http::request_content{std::move(heartbeat)});
  stream_.open(server_, [self = shared_from_this()](const boost::system::error_code& error) {
    self->opened(error);
  });
}

void heartbeat_exchange::cancel() {
  cancelled_ = true;
  stream_.close();
}

void heartbeat_exchange::opened(const boost::system::error_code& error) {
  if (error) {
    failed(post_failure_text(server_, stream_.target(), error),
           error == boost::asio::error::timed_out);
    return;
  }
  chunked_ = stream_.chunked();
  // A chunked body has no length: it is read to its end.
  announced_ = chunked_ ? std::numeric_limits<std::size_t>::max() : stream_.content_length();
  if (announced_ == 0) return ended_empty();
  if (log_debug.enabled()) {
    log_debug(boost::format("%1% - HTTP response content type %2%") % agent_name_ %
              stream_.content_type());
    if (chunked_)
      log_debug(boost::format("%1% - HTTP response chunked") % agent_name_);
    else
      log_debug(boost::format("%1% - HTTP response content length %2%") % agent_name_ % announced_);
  }
  read_body();
}

void heartbeat_exchange::ended_empty() {
  post_outcome outcome;
  outcome.kind = post_outcome::result::empty_reply;
  finish(std::move(outcome));
}

void heartbeat_exchange::read_body() {
  if (reply_.size() == announced_) return delivered();
  const std::size_t before = reply_.size();
  reply_.resize(before + std::min(announced_ - before, largest_read));
  stream_.read_some(boost::asio::buffer(&reply_[before], reply_.size() - before),
                    [self = shared_from_this(), before](const boost::system::error_code& error,
                                                        std::size_t bytes) {
                      self->reply_.resize(before + bytes);
                      self->received(error, bytes);
                    });
}

void heartbeat_exchange::delivered() {
  post_outcome outcome;
  outcome.kind = post_outcome::result::delivered;
  outcome.reply = std::move(reply_);
  finish(std::move(outcome));
}

void heartbeat_exchange::received(const boost::system::error_code& error, std::size_t bytes) {
  if (error == boost::asio::error::eof && chunked_ && stream_.body_complete()) {
    if (reply_.empty()) return ended_empty();
    delivered();
  } else if (error) {
    failed(error.message(), error == boost::asio::error::timed_out);
  } else if (bytes == 0) {
    // No progress without an error: the body cannot reach its announced length.
    failed(boost::system::error_code(boost::asio::error::eof).message(), false);
  } else {
    read_body();
  }
}

void heartbeat_exchange::failed(std::string reason, bool timed_out) {
  post_outcome outcome;
  outcome.kind = post_outcome::result::failed;
  outcome.reason = std::move(reason);
  outcome.timed_out = timed_out;
  finish(std::move(outcome));
}

void heartbeat_exchange::finish(post_outcome outcome) {
  if (stream_.retried()) ++agent_statistics::global().heartbeat_retries;
  // Only a connection whose reply was read whole may carry the next heartbeat.
  if (outcome.kind == post_outcome::result::delivered && !cancelled_)
    stream_.release();
  else
    stream_.close();
  if (cancelled_) {
    outcome = post_outcome();
    outcome.kind = post_outcome::result::dropped;
  }
  outcome.server = server_.display_text();
  outcome.took = std::chrono::steady_clock::now() - started_;
  // Once only: a cancel after the end finds nothing left to report.
  if (auto done = std::exchange(done_, nullptr)) done(std::move(outcome));
}

}  // namespace tamro
