#pragma once

#include <boost/asio/execution_context.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>
#include <string>
#include <utility>

#include "snmp/session_options.hpp"
#include "snmp/settings.hpp"

namespace tamro::snmp {

// The SNMP service of an I/O service, obtained with boost::asio::use_service<>(io_context):
// opens and closes sessions and starts requests whose handlers run on the I/O service.
template <class Implementation>
class basic_service : public boost::asio::execution_context::service {
 public:
  static boost::asio::execution_context::id id;

  using session_handle = typename Implementation::session_handle;
  using pdu_type = typename Implementation::pdu_type;

  explicit basic_service(boost::asio::io_context& context)
      : boost::asio::execution_context::service(context), implementation_(context) {}

  // On failure the handle is null and ec holds the library's error.
  void open(boost::system::error_code& ec, session_handle& session,
            const session_options& options) {
    implementation_.open(ec, session, options);
  }
  // A v1 or v2c session with the process-wide time-out and retry count.
  void open(boost::system::error_code& ec, session_handle& session, int version,
            const std::string& peer, const std::string& community) {
    session_options options;
    options.version = version;
    options.peer = peer;
    options.community = community;
    options.timeout = global_settings().timeout;
    options.retries = global_settings().retries;
    open(ec, session, options);
  }

  // SNMPv3 engine discovery, without blocking: while needs_engine(), send engine_probe()
  // first and give its answer to adopt_engine() (an error ends the cycle).
  bool needs_engine(session_handle session) const { return implementation_.needs_engine(session); }
  static pdu_type engine_probe() { return Implementation::engine_probe(); }
  boost::system::error_code adopt_engine(session_handle session, const pdu_type* report) {
    return implementation_.adopt_engine(session, report);
  }

  // Takes the request; handler(error_code, pdu_type* response) is called exactly once on the
  // I/O service: success with the answer, -24 timed out, -22 cancelled, or the library's error
  // (a refused send). Only when the I/O service is destroyed first is a request freed without
  // its handler being called.
  template <class Handler>
  void async_send(session_handle session, pdu_type& request, Handler handler) {
    implementation_.async_send(session, request, std::move(handler));
  }

  // Both return -4 for a null handle. Close is cheap and safe while requests are in flight;
  // it sets the handle to null. Sessions opened here must be closed here.
  boost::system::error_code cancel(session_handle session) {
    return implementation_.cancel(session);
  }
  boost::system::error_code close(session_handle& session) {
    return implementation_.close(session);
  }

  // The stop drain: every request in flight completes with -22 through the I/O service, whose
  // run then ends once they have; requests started afterwards complete with -22 at once.
  void shutdown_reactor() { implementation_.shutdown_reactor(); }

 private:
  void shutdown() override { implementation_.shutdown(); }

  Implementation implementation_;
};

template <class Implementation>
boost::asio::execution_context::id basic_service<Implementation>::id;

}  // namespace tamro::snmp
