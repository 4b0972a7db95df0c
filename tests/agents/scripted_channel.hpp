#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>
#include <cstddef>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "agents/snmp_channel.hpp"
#include "snmp/response_map.hpp"

namespace tamro::agents::test_support {

// An SNMP channel whose requests wait until the test answers them, one at a time, with
// values, an error status, a report or a failure; completions run on the io_context, as
// the real service's do. Sessions are counted, never opened.
class scripted_channel : public snmp_channel {
 public:
  explicit scripted_channel(boost::asio::io_context& io) : io_(io) {}

  // What the next open() fails with; none by default.
  boost::system::error_code open_error;
  // Sessions start without a known engine (SNMPv3), learnt from the probe's answer.
  bool engine_unknown = false;

  std::size_t in_flight() const { return requests_.size(); }
  // The oldest request waiting: whether it is the engine probe, a walk's, and what it asks.
  bool probe_waiting() const;
  bool walk_waiting() const;
  std::vector<std::string> asked() const;

  // Each completes the oldest request waiting.
  void answer(const snmp::oid_value_map& values, long error_status = 0);
  void answer_report();  // an SNMPv3 report in place of the answer
  void fail(const boost::system::error_code& error);

  int opens = 0;
  int closes = 0;
  int cancels = 0;

  boost::system::error_code open(session_handle& session,
                                 const snmp::session_options& options) override;
  void close(session_handle& session) override;
  void cancel(session_handle session) override;
  bool needs_engine(session_handle session) const override;
  boost::system::error_code adopt_engine(session_handle session, const snmp::pdu* report) override;
  void send(session_handle session, snmp::pdu& request, completion done) override;

 private:
  struct request {
    session_handle session;
    snmp::pdu pdu;
    completion done;
  };

  void complete(request done, const boost::system::error_code& error, snmp::pdu response);

  boost::asio::io_context& io_;
  std::deque<request> requests_;
  std::set<session_handle> open_;
  std::set<session_handle> engine_known_;
  std::size_t next_session_ = 1;
};

}  // namespace tamro::agents::test_support
