#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/format/format_fwd.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agents/host_identity.hpp"
#include "mapping/mapping.hpp"
#include "reporting/agent.hpp"
#include "snmp/response_map.hpp"
#include "snmp/service.hpp"
#include "snmp/session_options.hpp"
#include "snmp/table_walk.hpp"

namespace ctemplate {
class TemplateDictionary;
}

namespace tamro::agents {

// Reports one SNMP device: each cycle sends one GET for every OID the device's mapping and
// the server's requests need (split when the device finds the answer too big; after an
// SNMPv3 engine discovery when the engine is not known yet), then walks the mapping's
// tables, and turns the answer into one heartbeat. Owned by the device
// repository, which configures the public settings; never destroyed while busy, because
// the SNMP and HTTP completions in flight point to it.
class snmp_poller : public agent {
 public:
  static constexpr const char* default_community = "vexrol";

  snmp_poller(boost::asio::io_context& io, const host_identity& identity);
  ~snmp_poller() override;

  void start_heartbeat() override;
  // Cancels the request in flight; its completion still runs, with an error. The session
  // stays open for the next cycle.
  bool cancel() override;
  // Whether an SNMP request of this poller is in flight.
  bool awaiting_answer() const { return awaiting_answer_; }
  // From the request to its answer (or failure), for the last request that ended.
  std::chrono::steady_clock::duration last_poll_duration() const { return last_poll_duration_; }
  // Whether the last SNMP request that ended was answered.
  bool answered() const { return answered_; }
  std::string name() const override;
  // What a session for the current settings is opened with.
  snmp::session_options wanted_session() const;
  void on_reply(const boost::property_tree::ptree& reply) override;

  // Fills a heartbeat dictionary from one answer: the device's variables, the requested
  // statistics, the alarm transitions and the pending traps. Throws mapping_error when
  // the answer lacks a value of the mapping.
  void fill_heartbeat(const snmp::oid_value_map& response,
                      ctemplate::TemplateDictionary& dictionary);

 private:
  snmp::service& service_;
  // Kept from one cycle to the next: opening a session per request costs a socket, a
  // library session and their set-up every time.
  snmp::service::session_handle session_ = nullptr;
  snmp::session_options session_options_;  // what the open session was opened with
  bool awaiting_answer_ = false;
  // The OIDs of the cycle still to ask for, one request each: one at first, more when the
  // device found an answer too big. Empty at rest.
  std::vector<std::vector<std::string>> requests_;
  int requests_sent_ = 0;  // in this cycle
  // The walk of the mapping's table columns, after the GET; null at rest.
  std::unique_ptr<snmp::table_walk> walk_;
  std::chrono::steady_clock::time_point poll_started_;
  std::chrono::steady_clock::duration last_poll_duration_{};
  bool answered_ = false;
  // The answer, gathered over the cycle's requests, whose heartbeat waits for its post: a
  // few values rather than a dictionary.
  snmp::oid_value_map answer_;

 public:
  int version = 0;  // the SNMP library's codes: 0 v1, 1 v2c, 3 v3
  std::string address;
  std::string peer;  // address, then ":" and the port unless it is 161
  std::string community = default_community;
  snmp::usm_credentials usm;  // v3; an empty security name stands for the community
  // The device's own SNMP time-out (seconds) and retries, over those of the configuration.
  std::optional<std::int32_t> timeout;
  std::optional<std::int32_t> retries;
  std::shared_ptr<const tamro::mapping> mapping;
  // Set when the device list was reloaded during a request: its answer is ignored.
  bool recycled = false;
  std::string trap_alarm_id;
  std::vector<std::string> pending_traps;
  // OIDs of the requested alarms whose condition held when last seen.
  std::set<std::string> active_alarms;

 private:
  boost::system::error_code open_session();
  void close_session();
  void close_failed_session();
  // The next GET of the cycle, or the walk and the heartbeat once the GETs are answered.
  void continue_cycle();
  void send_next_request();
  // Whether the cycle goes on after this completion; every way it ends is handled here.
  bool goes_on(const boost::system::error_code& error);
  void fail_cycle(const boost::system::error_code& error);
  void fail_cycle(const boost::format& message);  // logged as an error
  void end_cycle();
  // Counts the cycle's SNMP outcome, for the metrics and the status line.
  void record_answer();
  void record_failure(bool timed_out, std::string failure);
  void handle_engine(const boost::system::error_code& error, snmp::pdu* report);
  void handle_response(const boost::system::error_code& error, snmp::pdu* response);
  // After the GET: walks the mapping's tables if it has any, then sends the heartbeat.
  void finish_answer();
  void send_walk_request();
  void handle_walk(const boost::system::error_code& error, snmp::pdu* response);
  // Splits the request the device found too big; false when it cannot be split further.
  bool split_request(std::vector<std::string> oids);
  std::unique_ptr<ctemplate::TemplateDictionary> make_heartbeat() override;
  void resend_without_requests();

  const host_identity& identity_;
};

}  // namespace tamro::agents
