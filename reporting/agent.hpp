#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "reporting/cycle_phase.hpp"
#include "reporting/repeated_failure.hpp"
#include "reporting/requested_items.hpp"

namespace ctemplate {
class TemplateDictionary;
}

namespace tamro {

class heartbeat_poster;
struct post_outcome;

// Base of everything that reports to the management server. A cycle is one pass through
// the phases of cycle_phase, moved by enter() alone: a derived agent gathers what it
// reports and calls send_heartbeat; when its post starts the base asks it for the
// heartbeat's dictionary, renders it, and hands the text to the poster; when the post ends
// the base records the outcome, applies the reply and ends the cycle. What arrives from
// outside mid-cycle (a removal, changed settings) is a pending disposition, applied at the
// cycle's next step. Everything runs on the one thread of the io_context.
class agent {
 public:
  agent(boost::asio::io_context& io, heartbeat_poster& poster);
  agent(const agent&) = delete;
  agent& operator=(const agent&) = delete;
  virtual ~agent();

  virtual void start_heartbeat() = 0;
  // Cancels the agent's SNMP work in flight (not its post); true when there was some. Its
  // completion still comes, and ends the cycle.
  virtual bool cancel();
  virtual std::string name() const = 0;
  // Called with the whole reply document once its interval and requests were applied.
  virtual void on_reply(const boost::property_tree::ptree& reply);

  cycle_phase phase() const { return phase_; }
  bool busy() const { return phase_ != cycle_phase::idle; }
  // The agent is no longer wanted: idle, it may go at once; busy, its cycle ends at its next
  // step (an SNMP request is cancelled, a waiting post leaves the line) and posts nothing
  // more, and it may go once idle. A post already in flight completes.
  void retire();
  bool retired() const { return disposition_ == cycle_disposition::retire; }
  // What arrived from outside during the cycle under way.
  cycle_disposition disposition() const { return disposition_; }

  // True until the first delivery, then once interval has passed since that cycle started;
  // now is on the schedule_clock's timeline (by default its present time).
  bool is_due() const;
  bool is_due(boost::posix_time::ptime now) const;

  // Posts made so far; the last one carried this value as HEARTBEAT_COUNTER.
  std::int32_t heartbeat_counter() const { return heartbeat_counter_; }
  boost::asio::io_context& io() { return io_; }

  // Schedule state, read and written by the scheduler, the device repository and the
  // reply processing.
  bool interval_changed = false;
  boost::posix_time::time_duration interval = boost::posix_time::seconds(300);
  std::vector<requested_statistic> requested_statistics;
  std::vector<requested_alarm> requested_alarms;
  boost::posix_time::ptime cycle_start;
  boost::posix_time::ptime last_delivered;
  // Why the last cycle delivered nothing; empty once a cycle delivered.
  std::string last_failure;
  // When a heartbeat of this agent was last delivered; the epoch until one was.
  std::chrono::system_clock::time_point last_success;
  // The longest interval a reply may set; an agent whose interval is written back to a
  // file with a narrower range lowers it.
  std::int32_t longest_interval_seconds = std::numeric_limits<std::int32_t>::max();

 protected:
  // The one place the phase changes; a move the cycle does not allow is logged as an error.
  void enter(cycle_phase next);
  // The answer being gathered was asked for with settings that changed: the cycle ends at
  // its next step without a post.
  void discard_answer();
  // Listed again before it went: it stays; a cycle whose SNMP work was cancelled still
  // ends without a post.
  void reinstate();
  // The cycle's heartbeat is posted when its turn comes; make_heartbeat() is called then.
  void send_heartbeat();
  // Completions of this agent's work hold it: one that finds it expired finds the agent
  // gone.
  std::weak_ptr<void> lifetime() const { return lifetime_; }

  // The variables of the heartbeat whose post starts now; null when there is nothing to
  // post after all (the agent has then ended its cycle, or started a new request).
  virtual std::unique_ptr<ctemplate::TemplateDictionary> make_heartbeat() = 0;
  // Device heartbeats wait their turn for a post slot; the agent's own never waits behind
  // them.
  virtual bool waits_for_post_slot() const { return true; }
  // The heartbeat that make_heartbeat() built reached the server, or will never.
  virtual void heartbeat_delivered() {}
  virtual void heartbeat_lost() {}
  // The cycle is over (idle again): what it gathered goes.
  virtual void cycle_ended() {}

 private:
  friend class heartbeat_poster;

  // The poster: the turn of this agent's post came. The text to post, or nothing when
  // there is none (the cycle has then ended or gone back to SNMP).
  std::optional<std::string> take_turn();
  void post_ended(const post_outcome& outcome);
  // The poster dropped the post before it started (a reload, a stop).
  void post_dropped();
  void record_post(const post_outcome& outcome, const std::string& failure) const;

  heartbeat_poster& poster_;
  cycle_phase phase_ = cycle_phase::idle;
  cycle_disposition disposition_ = cycle_disposition::none;
  std::int32_t heartbeat_counter_ = 0;
  repeated_failure post_failures_;  // what the log shows of them
  boost::asio::io_context& io_;
  std::shared_ptr<void> lifetime_;
};

}  // namespace tamro
