#include "reporting/agent.hpp"

#include <ctemplate/template.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>
#include <boost/property_tree/ptree.hpp>

#include "log/logger.hpp"
#include "log/sink.hpp"
#include "reporting/agent_statistics.hpp"
#include "reporting/heartbeat_poster.hpp"
#include "reporting/heartbeat_renderer.hpp"
#include "reporting/heartbeat_sender.hpp"
#include "reporting/reply_processing.hpp"
#include "reporting/schedule_clock.hpp"
#include "reporting/secret_redaction.hpp"

namespace tamro {

agent::agent(boost::asio::io_context& io, heartbeat_poster& poster)
    : poster_(poster), io_(io), lifetime_(std::make_shared<int>(0)) {}

agent::~agent() {
  // Completions still in flight find the lifetime expired and leave this agent alone; a
  // waiting post must not start once it is gone.
  if (phase_ == cycle_phase::waiting_for_slot) poster_.withdraw(*this);
  if (busy())
    log_error(boost::format("an agent was destroyed in the middle of its cycle (%1%)") %
              name_of(phase_));
}

bool agent::cancel() { return false; }

void agent::on_reply(const boost::property_tree::ptree&) {}

void agent::enter(cycle_phase next) {
  if (next == phase_ && next != cycle_phase::idle && is_legal_move(phase_, next)) return;
  if (!is_legal_move(phase_, next)) {
    log_error(boost::format("%1% - cycle step from %2% to %3% is not one a cycle takes") % name() %
              name_of(phase_) % name_of(next));
  } else if (log_debug.enabled()) {
    log_debug(boost::format("%1% - cycle: %2% -> %3%") % name() % name_of(phase_) % name_of(next));
  }
  phase_ = next;
  if (next != cycle_phase::idle) return;
  if (disposition_ == cycle_disposition::discard) disposition_ = cycle_disposition::none;
  cycle_ended();
}

void agent::retire() {
  disposition_ = cycle_disposition::retire;
  if (waits_for_answer(phase_)) {
    cancel();
  } else if (phase_ == cycle_phase::waiting_for_slot) {
    poster_.withdraw(*this);
    enter(cycle_phase::idle);
  }
}

void agent::discard_answer() {
  if (waits_for_answer(phase_)) {
    disposition_ = cycle_disposition::discard;
    cancel();
  } else if (phase_ == cycle_phase::waiting_for_slot) {
    poster_.withdraw(*this);
    enter(cycle_phase::idle);
  }
}

void agent::reinstate() {
  if (disposition_ != cycle_disposition::retire) return;
  disposition_ = waits_for_answer(phase_) ? cycle_disposition::discard : cycle_disposition::none;
}

void agent::send_heartbeat() {
  enter(cycle_phase::waiting_for_slot);
  poster_.submit(*this);
}

std::optional<std::string> agent::take_turn() {
  const auto dictionary = make_heartbeat();
  if (!dictionary) {
    heartbeat_lost();
    if (phase_ == cycle_phase::waiting_for_slot) enter(cycle_phase::idle);
    return std::nullopt;
  }
  heartbeat_counter_ =
      heartbeat_counter_ == std::numeric_limits<std::int32_t>::max() ? 1 : heartbeat_counter_ + 1;
  std::string text = poster_.renderer().render(*dictionary, heartbeat_counter_);
  if (text.empty()) {
    // An empty post would reach the server as a heartbeat without content.
    const std::string& template_name = poster_.renderer().template_name();
    log_error(boost::format("%1% - the heartbeat template %2% expanded to nothing; heartbeat not "
                            "sent") %
              name() % template_name);
    last_failure = "the heartbeat template " + template_name + " expanded to nothing";
    heartbeat_lost();
    enter(cycle_phase::idle);
    return std::nullopt;
  }
  enter(cycle_phase::posting);
  // Lines of every exchange are built only when they are written.
  if (log_debug.enabled()) log_debug(boost::format("%1% - HTTP POST request sent") % name());
  return text;
}

void agent::post_ended(const post_outcome& outcome) {
  using result = post_outcome::result;
  switch (outcome.kind) {
    case result::delivered:
    case result::printed:
      last_delivered = cycle_start;
      last_failure.clear();
      if (const auto after = post_failures_.succeeded())
        log_info(boost::format("%1% - heartbeats delivered again %2%") % name() % *after);
      heartbeat_delivered();
      break;
    case result::failed:
      if (const auto line = post_failures_.failed(
              str(boost::format("%1% - while sending heartbeat to server: %2%") % name() %
                  outcome.reason)))
        log_error(*line);
      last_failure = "heartbeat not delivered to " + outcome.server + ": " + outcome.reason;
      heartbeat_lost();
      break;
    case result::empty_reply:
      if (const auto line = post_failures_.failed(
              str(boost::format("%1% - HTTP response without content received") % name())))
        log_warning(*line);
      last_failure = "HTTP response without content received from " + outcome.server;
      heartbeat_lost();
      break;
    case result::dropped:
      heartbeat_lost();
      break;
  }
  if (outcome.kind != result::printed && outcome.kind != result::dropped)
    record_post(outcome, last_failure);
  enter(cycle_phase::idle);
  if (outcome.kind != result::delivered) return;

  last_success = std::chrono::system_clock::now();
  if (log_debug.enabled())
    log_debug(boost::format("%1% - HTTP response received (%2% bytes)") % name() %
              outcome.reply.size());
  if (log_threshold() == log::debug) log_debug(redact_secrets(outcome.reply));
  // The reply of a device no longer monitored changes nothing.
  if (!retired()) process_reply(*this, outcome.reply);
}

void agent::post_dropped() { enter(cycle_phase::idle); }

void agent::record_post(const post_outcome& outcome, const std::string& failure) const {
  auto& statistics = agent_statistics::global();
  ++(failure.empty() ? statistics.heartbeats_delivered : statistics.heartbeats_failed);
  statistics.post_duration.observe(std::chrono::duration<double>(outcome.took).count());
  statistics.last_post_time = agent_statistics::clock::now();
  statistics.last_post_failure = failure;
}

bool agent::is_due() const { return is_due(schedule_clock::now()); }

bool agent::is_due(boost::posix_time::ptime now) const {
  return last_delivered.is_not_a_date_time() || now >= last_delivered + interval;
}

}  // namespace tamro
