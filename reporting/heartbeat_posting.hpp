#pragma once

#include <boost/asio/io_context.hpp>

#include "reporting/heartbeat_poster.hpp"
#include "reporting/heartbeat_renderer.hpp"
#include "reporting/server_sender.hpp"

namespace tamro {

struct posting_settings;

// What the agents' heartbeats go through, as each configuration load puts it in force: the
// template, the sender to the management server, and the poster that orders and bounds the
// posts. Owned by the application and handed to every agent it makes.
class heartbeat_posting {
 public:
  explicit heartbeat_posting(boost::asio::io_context& io)
      : server_(io), poster_(renderer_, server_) {}
  heartbeat_posting(const heartbeat_posting&) = delete;
  heartbeat_posting& operator=(const heartbeat_posting&) = delete;

  // Throws std::runtime_error when the template no longer loads.
  void configure(const posting_settings& settings);

  heartbeat_poster& poster() { return poster_; }
  server_sender& server() { return server_; }

 private:
  heartbeat_renderer renderer_;
  server_sender server_;
  heartbeat_poster poster_;
};

}  // namespace tamro
