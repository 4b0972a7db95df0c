#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "reporting/posting_settings.hpp"
#include "reporting/requested_items.hpp"

namespace ctemplate {
class TemplateDictionary;
}

namespace tamro {

class post_queue;
class url_stream;

// Base of everything that reports to the management server. A derived agent calls
// send_heartbeat when it has something to report; when the post starts, the base asks it
// for the heartbeat's dictionary, renders the heartbeat template, posts it, reads the reply
// and applies it. Everything runs on the one thread of the io_context.
class agent {
 public:
  // Reads the "agent" section of the configuration: template, server URL, HTTP options.
  // Shared by all agents and replaced by each call; throws configuration_error or
  // std::runtime_error (template that does not load).
  static void configure(const boost::property_tree::ptree& agent_section);
  // Puts settings read by read_posting_settings in force.
  static void configure(const posting_settings& settings);
  static void clear_template_cache();
  // Test mode: every rendered heartbeat (or, when post is set, every reply) is written to
  // out; without post nothing is sent and the print counts as the delivery.
  static void set_transcript(std::ostream* out, bool post);
  // The line of device heartbeats waiting for a free exchange (agent/max-concurrent-posts).
  static post_queue& posts();

  // What a stop or reload dropped: posts waiting for their turn and exchanges in flight.
  struct dropped_posts {
    std::size_t waiting = 0;
    std::size_t in_flight = 0;
  };
  // Drops the heartbeats still waiting for their turn; the agents are idle again and due at
  // the next tick. Exchanges in flight go on.
  static dropped_posts drop_waiting_posts();
  // Stop: as drop_waiting_posts, and heartbeats sent from now on are dropped too, until the
  // next configure().
  static dropped_posts stop_posting();

  explicit agent(boost::asio::io_context& io);
  agent(const agent&) = delete;
  agent& operator=(const agent&) = delete;
  virtual ~agent();

  virtual void start_heartbeat() = 0;
  // Cancels the agent's own work in flight (not its post); true when there was some.
  virtual bool cancel();
  virtual std::string name() const = 0;
  // Called with the whole reply document once its interval and requests were applied.
  virtual void on_reply(const boost::property_tree::ptree& reply);

  // Posts one heartbeat; returns at once. The post starts at once for an agent that does not
  // wait its turn, else when an exchange is free; only then is make_heartbeat() called and
  // the heartbeat rendered, so that thousands of waiting devices hold no dictionaries. A
  // post of this agent still in flight is abandoned.
  void send_heartbeat();
  // True until the first delivery, then once interval has passed since that cycle started;
  // now is on the schedule_clock's timeline (by default its present time).
  bool is_due() const;
  bool is_due(boost::posix_time::ptime now) const;
  // Stop: drops this agent's exchange in flight without a word; the caller reports the
  // total. Adds what it dropped to the count.
  void drop_post(dropped_posts& count);

  // Posts made so far; the last one carried this value as HEARTBEAT_COUNTER.
  std::int32_t heartbeat_counter() const { return heartbeat_counter_; }
  boost::asio::io_context& io() { return io_; }

  // Schedule state, read and written by the scheduler, the device repository and the
  // reply processing.
  bool interval_changed = false;
  bool busy = false;
  bool dead = false;
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
  // The variables of the heartbeat whose post starts now; null when there is nothing to
  // post after all (the agent has then dealt with its cycle itself).
  virtual std::unique_ptr<ctemplate::TemplateDictionary> make_heartbeat() = 0;
  // Device heartbeats wait their turn for an exchange; the agent's own never waits behind
  // them.
  virtual bool waits_for_post_slot() const { return true; }

 private:
  friend class post_queue;
  using exchange = std::shared_ptr<url_stream>;

  // Renders the heartbeat and starts its exchange; false when there was none to post.
  bool begin_post();
  // Cancels the exchange in flight, if any; its completion still runs (with an error).
  void close_stream();
  void handle_open(const exchange& stream, const boost::system::error_code& error);
  void post_failed(const std::string& reason);
  // Counts a post that ended: delivered when failure is empty.
  void record_post(const std::string& failure);
  void read_body(const exchange& stream, std::size_t remaining, std::size_t transferred);
  void handle_read(const exchange& stream, const boost::system::error_code& error,
                   std::size_t bytes);
  void end_exchange();

  std::int32_t heartbeat_counter_ = 0;
  boost::asio::io_context& io_;
  // Only while a heartbeat is in flight: an idle agent holds no stream, TLS state or reply
  // bytes.
  // Pending completions hold the stream they belong to, so a stream replaced by a newer
  // post lives until its completion has run, and that completion can tell it is stale.
  exchange stream_;
  std::unique_ptr<boost::asio::streambuf> response_buffer_;
  bool holds_slot_ = false;
  bool in_line_ = false;  // waiting in the post queue
  std::chrono::steady_clock::time_point post_started_;
};

}  // namespace tamro
