#include "agents/service_channel.hpp"

namespace tamro::agents {

snmp::service& service_channel::service() const {
  if (!service_) service_ = &boost::asio::use_service<snmp::service>(io_);
  return *service_;
}

boost::system::error_code service_channel::open(session_handle& session,
                                                const snmp::session_options& options) {
  boost::system::error_code error;
  try {
    service().open(error, session, options);
  } catch (const boost::system::system_error& e) {
    // The service's reactor starts with the first session: without a descriptor left for
    // it, this session fails like any other.
    return e.code();
  }
  return error;
}

void service_channel::close(session_handle& session) {
  // Without a session there is nothing to close; the service's complaint is of no interest.
  if (session) service().close(session);
}

void service_channel::cancel(session_handle session) {
  if (session) service().cancel(session);
}

bool service_channel::needs_engine(session_handle session) const {
  return service().needs_engine(session);
}

boost::system::error_code service_channel::adopt_engine(session_handle session,
                                                        const snmp::pdu* report) {
  return service().adopt_engine(session, report);
}

void service_channel::send(session_handle session, snmp::pdu& request, completion done) {
  service().async_send(session, request, std::move(done));
}

}  // namespace tamro::agents
