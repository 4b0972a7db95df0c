#pragma once

#include <cstddef>
#include <deque>
#include <utility>

namespace tamro {

class agent;

// Bounds the heartbeat exchanges in flight: a server that accepts a few hundred
// connections at once would refuse the rest of a sweep of thousands. An agent whose turn
// has not come waits, in the order it asked; its post starts (and its heartbeat is
// rendered) when an exchange ends. Used on the I/O thread only.
class post_queue {
 public:
  static constexpr std::size_t default_limit = 64;

  std::size_t limit() const { return limit_; }
  void set_limit(std::size_t limit);

  // Starts the agent's post now when a slot is free, else once one is.
  void enter(agent& waiting);
  // An exchange that held a slot ended: the next waiting agent starts.
  void release();
  // As release(), but nothing starts: for an agent that takes a new slot as it gives back
  // its old one.
  void return_slot();
  // Takes an agent out of the line; false when it was not waiting.
  bool withdraw(agent& waiting);
  // Empties the line and returns the agents that were in it, in order.
  std::deque<agent*> take_waiting();

  std::size_t in_flight() const { return in_flight_; }
  std::size_t waiting() const { return line_.size(); }

 private:
  void start_next();

  std::size_t limit_ = default_limit;
  std::size_t in_flight_ = 0;
  std::deque<agent*> line_;
};

}  // namespace tamro
