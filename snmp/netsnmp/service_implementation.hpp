#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>
#include <memory>
#include <string>
#include <utility>

#include "snmp/netsnmp/operation.hpp"
#include "snmp/netsnmp/pdu_implementation.hpp"
#include "snmp/netsnmp/reactor.hpp"
#include "snmp/pdu.hpp"

namespace tamro::netsnmp {

// SNMP sessions and asynchronous requests on the library's single-session API; the state is
// one reactor with its thread.
class service_implementation {
 public:
  using session_handle = void*;
  using pdu_type = snmp::basic_pdu<pdu_implementation>;

  explicit service_implementation(boost::asio::io_context& context);

  // A session with the process-wide time-out and retry count (snmp::global_settings()).
  void open(boost::system::error_code& ec, session_handle& session, int version,
            const std::string& peer, const std::string& community);

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
};

}  // namespace tamro::netsnmp
