#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>
#include <memory>
#include <string>
#include <utility>

#include "snmp/netsnmp/master_keys.hpp"
#include "snmp/netsnmp/operation.hpp"
#include "snmp/netsnmp/pdu_implementation.hpp"
#include "snmp/netsnmp/reactor.hpp"
#include "snmp/pdu.hpp"
#include "snmp/session_options.hpp"

namespace tamro::netsnmp {

// SNMP sessions and asynchronous requests on the library's single-session API; the state is
// one reactor with its thread, and the SNMPv3 master keys derived so far.
class service_implementation {
 public:
  using session_handle = void*;
  using pdu_type = snmp::basic_pdu<pdu_implementation>;

  explicit service_implementation(boost::asio::io_context& context);

  void open(boost::system::error_code& ec, session_handle& session,
            const snmp::session_options& options);

  // SNMPv3: whether the session's engine is still unknown, the request that discovers it,
  // and taking it from that request's answer (null after a time-out or an error).
  bool needs_engine(session_handle session) const;
  static pdu_type engine_probe();
  boost::system::error_code adopt_engine(session_handle session, const pdu_type* report);

  // Takes the request (left empty) and returns at once; the handler is called exactly once,
  // on a thread running the I/O service, as handler(error_code, pdu_type* response).
  template <class Handler>
  void async_send(session_handle session, pdu_type& request, Handler handler) {
    auto op =
        std::make_unique<operation<Handler, pdu_type>>(session, request.get(), std::move(handler));
    request.release();
    reactor_.start(op.release());
  }

  boost::system::error_code cancel(session_handle session);
  boost::system::error_code close(session_handle& session);
  void shutdown_reactor();
  void shutdown();  // the I/O service is being destroyed

 private:
  reactor reactor_;
  master_keys keys_;  // after the reactor, which it tells of every key derived
};

}  // namespace tamro::netsnmp
