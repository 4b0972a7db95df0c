#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <deque>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "reporting/heartbeat_sender.hpp"

namespace tamro::agents::test_support {

// A sender whose posts wait until the test ends them: delivered with a reply, or ended as a
// failure of any kind. Completions run on the io_context, as the real sender's do.
class scripted_sender : public heartbeat_sender {
 public:
  struct post {
    std::string agent_name;
    std::string heartbeat;
    completion done;
  };

  explicit scripted_sender(boost::asio::io_context& io) : io_(io) {}

  void send(const std::string& agent_name, std::string heartbeat, completion done) override {
    sent.push_back(heartbeat);
    waiting_.push_back({agent_name, std::move(heartbeat), std::move(done)});
  }
  std::size_t cancel_all() override {
    const std::size_t count = waiting_.size();
    while (!waiting_.empty()) end(result::dropped);
    return count;
  }

  std::size_t in_flight() const { return waiting_.size(); }
  const post& oldest() const { return waiting_.front(); }

  // Ends the oldest post.
  void deliver(const std::string& reply =
                   "<heartbeat-reply><heartbeat-interval>300</heartbeat-interval>"
                   "<requested-statistics/><requested-alarms/></heartbeat-reply>") {
    post_outcome outcome;
    outcome.kind = result::delivered;
    outcome.reply = reply;
    finish(std::move(outcome));
  }
  void end(post_outcome::result kind, const std::string& reason = "refused") {
    post_outcome outcome;
    outcome.kind = kind;
    outcome.reason = reason;
    outcome.timed_out = reason == "timed out";
    finish(std::move(outcome));
  }

  // Every heartbeat handed to this sender, in order.
  std::vector<std::string> sent;

 private:
  using result = post_outcome::result;

  void finish(post_outcome outcome) {
    if (waiting_.empty()) throw std::logic_error("no post to end");
    post first = std::move(waiting_.front());
    waiting_.pop_front();
    outcome.server = "http://server.test/";
    boost::asio::post(
        io_, [done = std::move(first.done), outcome = std::move(outcome)] { done(outcome); });
  }

  boost::asio::io_context& io_;
  std::deque<post> waiting_;
};

}  // namespace tamro::agents::test_support
