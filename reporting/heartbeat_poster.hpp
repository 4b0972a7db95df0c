#pragma once

#include <cstddef>

#include "reporting/post_queue.hpp"

namespace tamro {

class agent;
class heartbeat_renderer;
class heartbeat_sender;
struct post_outcome;

// Posts the agents' heartbeats: a device's waits for a free slot (agent/max-concurrent-posts)
// and is rendered only when its turn comes, so thousands of waiting devices hold no
// dictionaries; the status reporter's never waits. Hands each text to the sender in use and
// the outcome back to its agent. Owned by the application; used on the I/O thread only.
class heartbeat_poster {
 public:
  struct dropped_posts {
    std::size_t waiting = 0;
    std::size_t in_flight = 0;
  };

  heartbeat_poster(const heartbeat_renderer& renderer, heartbeat_sender& sender);
  heartbeat_poster(const heartbeat_poster&) = delete;
  heartbeat_poster& operator=(const heartbeat_poster&) = delete;

  const heartbeat_renderer& renderer() const { return renderer_; }
  // The sender of the posts that start from now on.
  void use(heartbeat_sender& sender) { sender_ = &sender; }
  void set_limit(std::size_t limit);
  // After a stop: posts are taken again (each configuration load).
  void resume() { stopped_ = false; }

  // The agent (waiting for a post slot) is posted now, or once its turn comes.
  void submit(agent& poster);
  // Takes a waiting agent out of the line; it starts no post.
  void withdraw(agent& waiting);
  // Reload: the waiting agents are idle again, due at the next tick; posts in flight go on,
  // and the connections kept for later posts are closed (the reload may change the server).
  std::size_t drop_waiting();
  // Stop: as drop_waiting, posts in flight are ended, and heartbeats submitted from now on
  // are dropped at once.
  dropped_posts stop();

  std::size_t in_flight() const { return queue_.in_flight() + own_in_flight_; }
  std::size_t waiting() const { return queue_.waiting(); }

 private:
  void start(agent& poster, bool holds_slot);
  void start_waiting();
  void ended(agent* poster, bool holds_slot, const post_outcome& outcome);

  const heartbeat_renderer& renderer_;
  heartbeat_sender* sender_;
  post_queue queue_;
  std::size_t own_in_flight_ = 0;  // posts of agents that take no slot
  bool stopped_ = false;
};

}  // namespace tamro
