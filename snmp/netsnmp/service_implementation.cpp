#include "snmp/netsnmp/service_implementation.hpp"

#include <cerrno>
#include <cstdlib>

#include "snmp/netsnmp/error_category.hpp"
#include "snmp/netsnmp/library.hpp"
#include "snmp/netsnmp/library_lock.hpp"
#include "snmp/netsnmp/usm_protocols.hpp"
#include "snmp/netsnmp/usm_session.hpp"

namespace tamro::netsnmp {

service_implementation::service_implementation(boost::asio::io_context& context)
    : reactor_(context), keys_([this] { reactor_.keys_derived(); }) {
  SOCK_STARTUP;
}

namespace {

// The user-based security of a v3 session but its keys, which its usm_session brings once
// the device's engine is known.
void set_usm(netsnmp_session& parameters, const snmp::usm_credentials& usm,
             std::string& security_name, std::string& context_name) {
  parameters.securityModel = SNMP_SEC_MODEL_USM;
  parameters.securityName = security_name.data();
  parameters.securityNameLen = security_name.size();
  parameters.contextName = context_name.data();
  parameters.contextNameLen = context_name.size();
  parameters.securityLevel = SNMP_SEC_LEVEL_NOAUTH;
  if (usm.level == snmp::security_level::no_auth_no_priv) return;

  const protocol_oid hash = oid_of(usm.auth);
  parameters.securityLevel = SNMP_SEC_LEVEL_AUTHNOPRIV;
  parameters.securityAuthProto = const_cast<oid*>(hash.value);  // copied by the open
  parameters.securityAuthProtoLen = hash.length;
  if (usm.level == snmp::security_level::auth_no_priv) return;

  const protocol_oid cipher = oid_of(usm.privacy);
  parameters.securityLevel = SNMP_SEC_LEVEL_AUTHPRIV;
  parameters.securityPrivProto = const_cast<oid*>(cipher.value);
  parameters.securityPrivProtoLen = cipher.length;
}

}  // namespace

void service_implementation::open(boost::system::error_code& ec, session_handle& session,
                                  const snmp::session_options& options) {
  netsnmp_session parameters;
  {
    std::lock_guard<std::mutex> lock(library_mutex());  // reads the library's defaults
    snmp_sess_init(&parameters);
  }
  parameters.version = options.version;
  parameters.retries = options.retries;
  parameters.timeout = static_cast<long>(options.timeout) * 1000000L;
  std::string peer_name = options.peer;  // the library wants writable text; it copies it
  std::string community_text = options.community;
  parameters.peername = peer_name.data();
  std::string security_name = options.usm.security_name;
  std::string context_name = options.usm.context_name;
  std::unique_ptr<usm_session> usm;
  if (options.version == SNMP_VERSION_3) {
    set_usm(parameters, options.usm, security_name, context_name);
    // The library's probe for the engine would wait for the answer on this thread: the
    // engine is discovered by a request of its own instead (engine_probe()).
    parameters.flags |= SNMP_FLAGS_DONT_PROBE;
    usm = std::make_unique<usm_session>(options.peer, options.usm, keys_);
  } else {
    parameters.community = reinterpret_cast<u_char*>(community_text.data());
    parameters.community_len = community_text.size();
  }
  session = reactor_.open(parameters, std::move(usm));
  if (session == nullptr) {
    // The library says "Unknown host" when it could not even make a socket.
    if (errno == EMFILE || errno == ENFILE) {
      ec.assign(errno, boost::system::system_category());
      return;
    }
    ec = make_error_code(parameters.s_snmp_errno != 0 ? parameters.s_snmp_errno : SNMPERR_GENERR);
    return;
  }
  ec = {};
}

bool service_implementation::needs_engine(session_handle session) const {
  if (session == nullptr) return false;
  std::lock_guard<std::mutex> lock(library_mutex());
  const netsnmp_session* state = snmp_sess_session(session);
  return state != nullptr && state->version == SNMP_VERSION_3 && state->securityEngineIDLen == 0;
}

service_implementation::pdu_type service_implementation::engine_probe() {
  pdu_type probe = pdu_type::get_request();
  // Unauthenticated and for no user: any engine answers it with a report naming itself.
  probe.get()->version = SNMP_VERSION_3;
  probe.get()->securityModel = SNMP_SEC_MODEL_USM;
  probe.get()->securityLevel = SNMP_SEC_LEVEL_NOAUTH;
  probe.get()->securityName = static_cast<char*>(calloc(1, 1));
  probe.get()->securityNameLen = 0;
  return probe;
}

boost::system::error_code service_implementation::adopt_engine(session_handle session,
                                                               const pdu_type* report) {
  if (session == nullptr) return make_error_code(error::bad_session);
  std::lock_guard<std::mutex> lock(library_mutex());
  netsnmp_session* state = snmp_sess_session(session);
  if (state == nullptr) return make_error_code(error::bad_session);
  const netsnmp_pdu* answer = report != nullptr ? report->get() : nullptr;
  // The library takes the engine from the report as it reads it; copied here if it did not.
  if (state->securityEngineIDLen == 0 && answer != nullptr && answer->securityEngineIDLen > 0) {
    state->securityEngineID =
        static_cast<u_char*>(netsnmp_memdup(answer->securityEngineID, answer->securityEngineIDLen));
    state->securityEngineIDLen = answer->securityEngineIDLen;
  }
  if (state->securityEngineIDLen == 0) return make_error_code(SNMPERR_UNKNOWN_ENG_ID);
  if (state->contextEngineIDLen == 0) {
    state->contextEngineID =
        static_cast<u_char*>(netsnmp_memdup(state->securityEngineID, state->securityEngineIDLen));
    state->contextEngineIDLen = state->securityEngineIDLen;
  }
  // The keys are localized to the engine as the next request leaves (usm_session::prepare).
  return {};
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
