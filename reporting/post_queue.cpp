#include "reporting/post_queue.hpp"

#include <algorithm>
#include <utility>

namespace tamro {

void post_queue::set_limit(std::size_t limit) { limit_ = std::max<std::size_t>(limit, 1); }

void post_queue::enter(agent& waiting) { line_.push_back(&waiting); }

agent* post_queue::next() {
  if (in_flight_ >= limit_ || line_.empty()) return nullptr;
  agent* first = line_.front();
  line_.pop_front();
  ++in_flight_;
  return first;
}

void post_queue::return_slot() {
  if (in_flight_ > 0) --in_flight_;
}

bool post_queue::withdraw(agent& waiting) {
  const auto found = std::find(line_.begin(), line_.end(), &waiting);
  if (found == line_.end()) return false;
  line_.erase(found);
  return true;
}

std::deque<agent*> post_queue::take_waiting() { return std::exchange(line_, {}); }

}  // namespace tamro
