#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace tamro {

// How one heartbeat post ended.
struct post_outcome {
  enum class result {
    delivered,    // status 200 and the whole reply read
    printed,      // written to a transcript (the heartbeat, or its reply): counts as
                  // delivered; no reply is applied
    failed,       // refused, cut, timed out, not reachable
    empty_reply,  // status 200 without a body to read
    dropped,      // cancelled by a stop or a reload
  };

  result kind = result::failed;
  // failed: the reason, as the log line gives it after "while sending heartbeat to server: ".
  std::string reason;
  bool timed_out = false;
  std::string reply;   // delivered: the reply body
  std::string server;  // where it went, as shown to operators
  std::chrono::steady_clock::duration took{};

  bool reached_server() const { return kind == result::delivered || kind == result::printed; }
};

// Carries rendered heartbeats to where they go: the management server, or a transcript.
// Used on the I/O thread only.
class heartbeat_sender {
 public:
  using completion = std::function<void(post_outcome)>;

  heartbeat_sender() = default;
  heartbeat_sender(const heartbeat_sender&) = delete;
  heartbeat_sender& operator=(const heartbeat_sender&) = delete;
  virtual ~heartbeat_sender() = default;

  // Carries one heartbeat of the named agent; done runs exactly once, on the I/O thread,
  // never inside this call.
  virtual void send(const std::string& agent_name, std::string heartbeat, completion done) = 0;
  // Ends every post in flight; their completions report them dropped. Returns how many.
  virtual std::size_t cancel_all() = 0;
  // Closes the connections kept open for later posts, and keeps none of those that end until
  // the drain is over, even of posts started meanwhile: a reload, or the end of a run, must
  // not wait for the server to close them.
  virtual void close_kept_connections() {}
};

}  // namespace tamro
