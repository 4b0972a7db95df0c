#include "reporting/heartbeat_poster.hpp"

#include "reporting/agent.hpp"
#include "reporting/heartbeat_sender.hpp"

namespace tamro {

heartbeat_poster::heartbeat_poster(const heartbeat_renderer& renderer, heartbeat_sender& sender)
    : renderer_(renderer), sender_(&sender) {}

void heartbeat_poster::set_limit(std::size_t limit) {
  queue_.set_limit(limit);
  start_waiting();
}

void heartbeat_poster::submit(agent& poster) {
  if (stopped_) {
    poster.post_dropped();
  } else if (!poster.waits_for_post_slot()) {
    start(poster, false);
  } else {
    queue_.enter(poster);
    start_waiting();
  }
}

void heartbeat_poster::withdraw(agent& waiting) { queue_.withdraw(waiting); }

std::size_t heartbeat_poster::drop_waiting() {
  const auto dropped = queue_.take_waiting();
  for (agent* waiting : dropped) waiting->post_dropped();
  sender_->close_kept_connections();
  return dropped.size();
}

heartbeat_poster::dropped_posts heartbeat_poster::stop() {
  stopped_ = true;
  dropped_posts dropped;
  dropped.waiting = drop_waiting();
  dropped.in_flight = sender_->cancel_all();
  return dropped;
}

void heartbeat_poster::start_waiting() {
  while (agent* next = queue_.next()) start(*next, true);
}

void heartbeat_poster::start(agent& poster, bool holds_slot) {
  auto text = poster.take_turn();
  if (!text) {
    if (holds_slot) queue_.return_slot();
    return;
  }
  if (!holds_slot) ++own_in_flight_;
  sender_->send(poster.name(), std::move(*text),
                [this, &poster, alive = poster.lifetime(), holds_slot](post_outcome outcome) {
                  ended(alive.expired() ? nullptr : &poster, holds_slot, outcome);
                });
}

void heartbeat_poster::ended(agent* poster, bool holds_slot, const post_outcome& outcome) {
  if (holds_slot) {
    queue_.return_slot();
  } else {
    --own_in_flight_;
  }
  if (poster) poster->post_ended(outcome);
  start_waiting();
}

}  // namespace tamro
