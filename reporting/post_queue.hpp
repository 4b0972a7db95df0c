#pragma once

#include <cstddef>
#include <deque>

namespace tamro {

class agent;

// The slots of device heartbeat posts in flight, and the line of agents waiting for one: a
// server that accepts a few hundred connections at once would refuse the rest of a sweep of
// thousands. Bookkeeping only; the poster starts the posts. Used on the I/O thread only.
class post_queue {
 public:
  static constexpr std::size_t default_limit = 64;

  std::size_t limit() const { return limit_; }
  void set_limit(std::size_t limit);

  void enter(agent& waiting);
  // The agent that has waited longest, out of the line and holding a slot; null when no slot
  // is free or nobody waits.
  agent* next();
  // A post that held a slot ended.
  void return_slot();
  // Takes an agent out of the line; false when it was not waiting.
  bool withdraw(agent& waiting);
  // Empties the line and returns the agents that were in it, in order.
  std::deque<agent*> take_waiting();

  std::size_t in_flight() const { return in_flight_; }
  std::size_t waiting() const { return line_.size(); }

 private:
  std::size_t limit_ = default_limit;
  std::size_t in_flight_ = 0;
  std::deque<agent*> line_;
};

}  // namespace tamro
