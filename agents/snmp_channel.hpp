#pragma once

#include <boost/system/error_code.hpp>
#include <functional>

#include "snmp/service.hpp"
#include "snmp/session_options.hpp"

namespace tamro::agents {

// What a poller asks of the SNMP service: sessions, the SNMPv3 engine discovery and
// requests. The agent's is the service of its io_context (service_channel); tests put one
// in its place that fails at step N.
class snmp_channel {
 public:
  using session_handle = snmp::service::session_handle;
  // Called exactly once per request, on the I/O thread, never inside send() or cancel().
  using completion = std::function<void(const boost::system::error_code&, snmp::pdu*)>;

  snmp_channel() = default;
  snmp_channel(const snmp_channel&) = delete;
  snmp_channel& operator=(const snmp_channel&) = delete;
  virtual ~snmp_channel() = default;

  // On failure the handle is null.
  virtual boost::system::error_code open(session_handle& session,
                                         const snmp::session_options& options) = 0;
  // Sets the handle to null; requests in flight complete as cancelled.
  virtual void close(session_handle& session) = 0;
  // Requests in flight on the session complete as cancelled.
  virtual void cancel(session_handle session) = 0;
  virtual bool needs_engine(session_handle session) const = 0;
  // Takes the engine from the answer to snmp::service::engine_probe().
  virtual boost::system::error_code adopt_engine(session_handle session,
                                                 const snmp::pdu* report) = 0;
  virtual void send(session_handle session, snmp::pdu& request, completion done) = 0;
};

}  // namespace tamro::agents
