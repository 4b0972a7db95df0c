#include "reporting/transcript_sender.hpp"

#include <boost/asio/post.hpp>
#include <cctype>
#include <ostream>

#include "reporting/secret_redaction.hpp"

namespace tamro {
namespace {

// Each document on its own, well-formed as it came: the marker goes after the XML
// declaration (which must open a document), and a NUL byte, which no XML text may hold,
// ends it, so that a reader can split the transcript.
void write_document(std::ostream& out, const std::string& marker, const std::string& document) {
  const std::size_t start = document.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  std::size_t head = 0;
  if (document.compare(start, 5, "<?xml") == 0 && document.size() > start + 5 &&
      std::isspace(static_cast<unsigned char>(document[start + 5]))) {
    const std::size_t end = document.find("?>", start);
    if (end != std::string::npos) head = end + 2;
  }
  const std::string comment = "<!-- " + marker + " -->";
  if (head == 0) {
    out << comment << '\n' << document;
  } else {
    out.write(document.data(), static_cast<std::streamsize>(head));
    out << '\n' << comment << document.substr(head);
  }
  out << '\n' << '\0' << std::flush;
}

}  // namespace

transcript_sender::transcript_sender(boost::asio::io_context& io, std::ostream& out,
                                     heartbeat_sender* poster)
    : io_(io), out_(out), poster_(poster) {}

void transcript_sender::send(const std::string& agent_name, std::string heartbeat,
                             completion done) {
  if (poster_) {
    ++posting_;
    poster_->send(agent_name, std::move(heartbeat),
                  [this, agent_name, done = std::move(done)](post_outcome outcome) {
                    if (outcome.kind == post_outcome::result::delivered) {
                      write_document(out_, "reply to " + agent_name, redact_secrets(outcome.reply));
                      // Shown, not acted on: a test run changes nothing the service keeps.
                      outcome.kind = post_outcome::result::printed;
                      outcome.reply.clear();
                    }
                    // The run ends when nothing is left to do: a kept connection would hold
                    // it until its idle time-out.
                    if (--posting_ == 0) poster_->close_kept_connections();
                    done(std::move(outcome));
                  });
    return;
  }
  write_document(out_, "heartbeat of " + agent_name, heartbeat);
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
