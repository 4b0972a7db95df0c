#include "snmp/netsnmp/service_implementation.hpp"

#include <cerrno>

#include "snmp/netsnmp/error_category.hpp"
#include "snmp/netsnmp/library.hpp"
#include "snmp/netsnmp/library_lock.hpp"
#include "snmp/settings.hpp"

namespace tamro::netsnmp {

service_implementation::service_implementation(boost::asio::io_context& context)
    : reactor_(context) {
  SOCK_STARTUP;
}

void service_implementation::open(boost::system::error_code& ec, session_handle& session,
                                  int version, const std::string& peer,
                                  const std::string& community) {
  const auto& settings = snmp::global_settings();
  netsnmp_session parameters;
  {
    std::lock_guard<std::mutex> lock(library_mutex());  // reads the library's defaults
    snmp_sess_init(&parameters);
  }
  parameters.version = version;
  parameters.retries = settings.retries;
  parameters.timeout = static_cast<long>(settings.timeout) * 1000000L;
  std::string peer_name = peer;  // the library wants writable text; it copies it
  std::string community_text = community;
  parameters.peername = peer_name.data();
  parameters.community = reinterpret_cast<u_char*>(community_text.data());
  parameters.community_len = community_text.size();
  session = reactor_.open(parameters);
  if (session == nullptr) {
    // The library says "Unknown host" when it could not even make a socket.
    if (errno == EMFILE || errno == ENFILE) {
      ec.assign(errno, boost::system::system_category());
      // The library keeps this failure's detail for its next message, which is not ours.
      std::lock_guard<std::mutex> lock(library_mutex());
      snmp_api_errstring(parameters.s_snmp_errno);
      return;
    }
    ec = make_error_code(parameters.s_snmp_errno != 0 ? parameters.s_snmp_errno : SNMPERR_GENERR);
    return;
  }
  ec = {};
}

boost::system::error_code service_implementation::cancel(session_handle session) {
  if (session == nullptr) return make_error_code(error::bad_session);
  reactor_.cancel(session);
  return {};
}

boost::system::error_code service_implementation::close(session_handle& session) {
  if (session == nullptr) return make_error_code(error::bad_session);
  reactor_.close(session);
  session = nullptr;
  return {};
}

void service_implementation::shutdown_reactor() { reactor_.stop(); }

void service_implementation::shutdown() {
  reactor_.abandon();
  SOCK_CLEANUP;
}

}  // namespace tamro::netsnmp
