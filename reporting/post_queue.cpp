#include "reporting/post_queue.hpp"

#include <algorithm>

#include "reporting/agent.hpp"

namespace tamro {

void post_queue::set_limit(std::size_t limit) {
  limit_ = std::max<std::size_t>(limit, 1);
  start_next();
}

void post_queue::enter(agent& waiting) {
  line_.push_back(&waiting);
  start_next();
}

void post_queue::release() {
  if (in_flight_ > 0) --in_flight_;
  start_next();
}

bool post_queue::withdraw(const agent& waiting) {
  const auto found = std::find(line_.begin(), line_.end(), &waiting);
  if (found == line_.end()) return false;
  line_.erase(found);
  return true;
}

std::deque<agent*> post_queue::take_waiting() { return std::exchange(line_, {}); }

void post_queue::start_next() {
  while (in_flight_ < limit_ && !line_.empty()) {
    agent* next = line_.front();
    line_.pop_front();
    ++in_flight_;
    next->begin_post();
  }
}

}  // namespace tamro
