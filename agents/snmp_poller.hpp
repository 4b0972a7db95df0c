#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/format/format_fwd.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agents/alarm_state.hpp"
#include "agents/device_settings.hpp"
#include "agents/host_identity.hpp"
#include "agents/snmp_channel.hpp"
#include "reporting/agent.hpp"
#include "reporting/repeated_failure.hpp"
#include "snmp/response_map.hpp"
#include "snmp/session_options.hpp"
#include "snmp/table_walk.hpp"

namespace ctemplate {
class TemplateDictionary;
}

namespace tamro::agents {

// Reports one SNMP device: each cycle sends one GET for every OID the device's mapping and
// the server's requests need (split when the device finds the answer too big; after an
// SNMPv3 engine discovery when the engine is not known yet), then walks the mapping's
// tables, and turns the answer into one heartbeat. Owned by the device repository, which
// gives it its settings and retires it; its completions hold its lifetime, and one that
// comes after it is gone does nothing.
class snmp_poller : public agent {
 public:
  snmp_poller(boost::asio::io_context& io, heartbeat_poster& poster, snmp_channel& channel,
              const host_identity& identity);
  ~snmp_poller() override;

  void start_heartbeat() override;
  // Cancels the request in flight; its completion still runs, with an error, and ends the
  // cycle. The session stays open for the next cycle.
  bool cancel() override;
  std::string name() const override;
  void on_reply(const boost::property_tree::ptree& reply) override;

  // The device's settings from a load or a pushed list. An answer being gathered that the
  // new settings would not ask for (another session, other OIDs) is discarded; a retired
  // poller listed again stays.
  void reconfigure(device_settings settings);
  const device_settings& settings() const { return settings_; }
  // The next walk starts with requests of the full size again (at a reload: the device may
  // have changed).
  void forget_walk_shape() { walk_shape_ = {}; }
  // What a session for the current settings is opened with.
  snmp::session_options wanted_session() const;

  // From the request to its answer (or failure), for the last cycle whose SNMP half ended;
  // none until one has.
  std::optional<std::chrono::steady_clock::duration> last_poll_duration() const {
    return last_poll_duration_;
  }
  // Whether the last cycle whose SNMP half ended was answered.
  bool answered() const { return answered_; }

  // The alarm states the server knows of this device.
  const std::set<std::string>& delivered_alarms() const { return alarms_.delivered(); }
  void restore_alarms(std::set<std::string> active) { alarms_.restore(std::move(active)); }

  // Fills a heartbeat dictionary from one answer: the device's variables, the requested
  // statistics, the alarm transitions (pending until the heartbeat is delivered) and the
  // pending traps. Throws mapping_error when the answer lacks a value of the mapping.
  void fill_heartbeat(const snmp::oid_value_map& response,
                      ctemplate::TemplateDictionary& dictionary);

  std::string trap_alarm_id;
  std::vector<std::string> pending_traps;

 protected:
  std::unique_ptr<ctemplate::TemplateDictionary> make_heartbeat() override;
  void heartbeat_delivered() override { alarms_.commit(); }
  void heartbeat_lost() override { alarms_.discard(); }
  void cycle_ended() override;

 private:
  // Every OID of the cycle's GET: the mapping's and the server's.
  std::set<std::string> requested_oids() const;
  boost::system::error_code open_session();
  void close_session();
  void close_failed_session();
  // The next GET of the cycle, or the walk and the heartbeat once the GETs are answered.
  void continue_cycle();
  void send_next_request();
  void send(snmp::pdu& request,
            void (snmp_poller::*handle)(const boost::system::error_code&, snmp::pdu*));
  // Whether the cycle goes on after this completion; every way it ends is handled here.
  bool goes_on(const boost::system::error_code& error);
  void fail_cycle(const boost::system::error_code& error);
  void fail_cycle(const boost::format& message);  // logged as an error
  // A failed cycle's error line, unless the log showed it recently.
  void log_failure(const boost::format& line);
  // Counts the cycle's SNMP outcome, for the metrics and the status line.
  void record_answer();
  void record_failure(bool timed_out, std::string failure);
  void handle_engine(const boost::system::error_code& error, snmp::pdu* report);
  void handle_response(const boost::system::error_code& error, snmp::pdu* response);
  // After the GET: walks the mapping's tables if it has any, then sends the heartbeat.
  void finish_answer();
  // Logs the columns that failed, then asks for more rows or ends the walk.
  void continue_walk(bool timed_out);
  void handle_walk(const boost::system::error_code& error, snmp::pdu* response);
  // Splits the request the device found too big; false when it cannot be split further.
  bool split_request(std::vector<std::string> oids);
  void resend_without_requests();

  snmp_channel& channel_;
  const host_identity& identity_;
  device_settings settings_;
  // Kept from one cycle to the next: opening a session per request costs a socket, a
  // library session and their set-up every time.
  snmp_channel::session_handle session_ = nullptr;
  snmp::session_options session_options_;  // what the open session was opened with
  // Counts the cycles; a completion of another cycle than the present one is stale.
  std::uint64_t generation_ = 0;
  // The OIDs of the cycle still to ask for, one request each: one at first, more when the
  // device found an answer too big. Empty at rest.
  std::vector<std::vector<std::string>> requests_;
  int requests_sent_ = 0;  // in this cycle
  // The walk of the mapping's table columns, after the GET; null at rest.
  std::unique_ptr<snmp::table_walk> walk_;
  // The walk requests the device took, learnt from its answers too big; until a reload.
  snmp::walk_shape walk_shape_;
  std::chrono::steady_clock::time_point poll_started_;
  std::optional<std::chrono::steady_clock::duration> last_poll_duration_;
  bool answered_ = false;
  repeated_failure snmp_failures_;  // what the log shows of them
  // The same for the columns of a quirky device that fail cycle after cycle, by column OID;
  // a column walked to its end again starts afresh.
  std::map<std::string, repeated_failure> column_failures_;
  std::set<std::string> columns_failed_;  // in the walk under way
  // The answer, gathered over the cycle's requests, whose heartbeat waits for its post: a
  // few values rather than a dictionary. Taken once, when the post starts.
  snmp::oid_value_map answer_;
  alarm_state alarms_;
};

}  // namespace tamro::agents
