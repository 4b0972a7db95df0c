#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <boost/system/error_code.hpp>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "reporting/requested_items.hpp"

namespace ctemplate {
class TemplateDictionary;
}

namespace tamro {

class url_stream;

// Base of everything that reports to the management server. A derived agent fills a
// dictionary and calls send_heartbeat; the base renders the heartbeat template, posts it,
// reads the reply and applies it. Everything runs on the one thread of the io_context.
class agent {
 public:
  // Reads the "agent" section of the configuration: template, server URL, HTTP options.
  // Shared by all agents and replaced by each call; throws configuration_error or
  // std::runtime_error (template that does not load).
  static void configure(const boost::property_tree::ptree& agent_section);
  static void clear_template_cache();
  // Test mode: every rendered heartbeat (or, when post is set, every reply) is written to
  // out; without post nothing is sent and the print counts as the delivery.
  static void set_transcript(std::ostream* out, bool post);

  explicit agent(boost::asio::io_context& io);
  agent(const agent&) = delete;
  agent& operator=(const agent&) = delete;
  virtual ~agent();

  virtual void start_heartbeat() = 0;
  virtual void cancel();
  virtual std::string name() const = 0;
  // Called with the whole reply document once its interval and requests were applied.
  virtual void on_reply(const boost::property_tree::ptree& reply);

  // Renders and posts one heartbeat; returns at once. A post still in flight is abandoned.
  void send_heartbeat(ctemplate::TemplateDictionary& dictionary);
  // True until the first delivery, then once interval has passed since that cycle started.
  bool is_due() const;
  // Cancels the exchange in flight, if any; its completion still runs (with an error).
  void close_stream();

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
  // The longest interval a reply may set; an agent whose interval is written back to a
  // file with a narrower range lowers it.
  std::int32_t longest_interval_seconds = std::numeric_limits<std::int32_t>::max();

 private:
  using exchange = std::shared_ptr<url_stream>;

  void handle_open(const exchange& stream, const boost::system::error_code& error);
  void read_body(const exchange& stream, std::size_t remaining, std::size_t transferred);
  void handle_read(const exchange& stream, const boost::system::error_code& error,
                   std::size_t bytes);
  void end_exchange();

  std::int32_t heartbeat_counter_ = 0;
  boost::asio::io_context& io_;
  // Pending completions hold the stream they belong to, so a stream replaced by a newer
  // post lives until its completion has run, and that completion can tell it is stale.
  exchange stream_;
  boost::asio::streambuf response_buffer_;
};

}  // namespace tamro
