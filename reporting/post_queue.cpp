#include "reporting/post_queue.hpp"

#include <algorithm>

#include "reporting/agent.hpp"

namespace tamro {

void post_queue::set_limit(std::size_t limit) {
  limit_ = std::max<std::size_t>(limit, 1);
  start_next();
}

void post_queue::enter(agent& waiting) {
  waiting.in_line_ = true;
  line_.push_back(&waiting);
  start_next();
}

void post_queue::release() {
  return_slot();
  start_next();
}

void post_queue::return_slot() {
  if (in_flight_ > 0) --in_flight_;
}

bool post_queue::withdraw(agent& waiting) {
  // Most agents asking are not in line: only those need the search.
  if (!waiting.in_line_) return false;
  waiting.in_line_ = false;
  line_.erase(std::find(line_.begin(), line_.end(), &waiting));
  return true;
}

std::deque<agent*> post_queue::take_waiting() {
  for (agent* waiting : line_) waiting->in_line_ = false;
  return std::exchange(line_, {});
}

void post_queue::start_next() {
  while (in_flight_ < limit_ && !line_.empty()) {
    agent* next = line_.front();
    line_.pop_front();
    next->in_line_ = false;
    ++in_flight_;
    if (!next->begin_post()) --in_flight_;
  }
}

}  // namespace tamro
