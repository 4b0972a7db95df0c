#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "agents/host_identity.hpp"
#include "mapping/mapping.hpp"
#include "reporting/agent.hpp"
#include "snmp/response_map.hpp"
#include "snmp/service.hpp"

namespace ctemplate {
class TemplateDictionary;
}

namespace tamro::agents {

// Reports one SNMP device: each cycle sends one GET for every OID the device's mapping and
// the server's requests need, and turns the answer into a heartbeat. Owned by the device
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
  void on_reply(const boost::property_tree::ptree& reply) override;

  // Fills a heartbeat dictionary from one answer: the device's variables, the requested
  // statistics, the alarm transitions and the pending traps. Throws mapping_error when
  // the answer lacks a value of the mapping.
  void fill_heartbeat(const snmp::oid_value_map& response,
                      ctemplate::TemplateDictionary& dictionary);

 private:
  // What the open session was opened with: a reload that changes any of it reopens it.
  struct session_settings {
    int version = 0;
    std::string peer;
    std::string community;
    int timeout = 0;  // seconds and retries of the SNMP settings, which a reload may change
    int retries = 0;
    bool operator==(const session_settings& other) const {
      return version == other.version && peer == other.peer && community == other.community &&
             timeout == other.timeout && retries == other.retries;
    }
  };

  snmp::service& service_;
  // Kept from one cycle to the next: opening a session per request costs a socket, a
  // library session and their set-up every time.
  snmp::service::session_handle session_ = nullptr;
  session_settings session_settings_;
  bool awaiting_answer_ = false;
  std::chrono::steady_clock::time_point poll_started_;
  std::chrono::steady_clock::duration last_poll_duration_{};
  bool answered_ = false;
  // The answer whose heartbeat waits for its post: a few values rather than a dictionary.
  snmp::oid_value_map answer_;

 public:
  int version = 0;  // the SNMP library's codes: 0 v1, 1 v2c, 3 v3
  std::string address;
  std::string peer;  // address, then ":" and the port unless it is 161
  std::string community = default_community;
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
  void handle_response(const boost::system::error_code& error, snmp::pdu* response);
  std::unique_ptr<ctemplate::TemplateDictionary> make_heartbeat() override;
  void resend_without_requests();

  const host_identity& identity_;
};

}  // namespace tamro::agents
