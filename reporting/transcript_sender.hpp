#pragma once

#include <boost/asio/io_context.hpp>
#include <iosfwd>
#include <string>

#include "reporting/heartbeat_sender.hpp"

namespace tamro {

// The test mode's sender: every heartbeat is written to a transcript instead of being
// posted, which counts as its delivery; or, given a sender that posts, each heartbeat is
// posted through it and every reply is written to the transcript, not applied. Each
// document of the transcript keeps its XML declaration first, has a comment that names it
// after that, and ends with a NUL byte.
class transcript_sender : public heartbeat_sender {
 public:
  transcript_sender(boost::asio::io_context& io, std::ostream& out,
                    heartbeat_sender* poster = nullptr);

  void send(const std::string& agent_name, std::string heartbeat, completion done) override;
  std::size_t cancel_all() override;
  void close_kept_connections() override;

 private:
  boost::asio::io_context& io_;
  std::ostream& out_;
  heartbeat_sender* poster_;
  std::size_t posting_ = 0;
};

}  // namespace tamro
