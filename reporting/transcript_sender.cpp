#include "reporting/transcript_sender.hpp"

#include <boost/asio/post.hpp>
#include <ostream>

#include "reporting/secret_redaction.hpp"

namespace tamro {

transcript_sender::transcript_sender(boost::asio::io_context& io, std::ostream& out,
                                     heartbeat_sender* poster)
    : io_(io), out_(out), poster_(poster) {}

void transcript_sender::send(const std::string& agent_name, std::string heartbeat,
                             completion done) {
  if (poster_) {
    ++posting_;
    poster_->send(agent_name, std::move(heartbeat),
                  [this, agent_name, done = std::move(done)](post_outcome outcome) {
                    if (outcome.kind == post_outcome::result::delivered)
                      out_ << "<!-- reply to " << agent_name << " -->\n"
                           << redact_secrets(outcome.reply) << std::endl;
                    // The run ends when nothing is left to do: a kept connection would hold
                    // it until its idle time-out.
                    if (--posting_ == 0) poster_->close_kept_connections();
                    done(std::move(outcome));
                  });
    return;
  }
  out_ << "<!-- heartbeat of " << agent_name << " -->\n" << heartbeat << std::endl;
  boost::asio::post(io_, [done = std::move(done)] {
    post_outcome outcome;
    outcome.kind = post_outcome::result::printed;
    done(std::move(outcome));
  });
}

std::size_t transcript_sender::cancel_all() { return poster_ ? poster_->cancel_all() : 0; }

void transcript_sender::close_kept_connections() {
  if (poster_) poster_->close_kept_connections();
}

}  // namespace tamro
