#include "snmp/netsnmp/service_implementation.hpp"

#include <cerrno>
#include <cstdlib>

#include "snmp/netsnmp/error_category.hpp"
#include "snmp/netsnmp/library.hpp"
#include "snmp/netsnmp/library_lock.hpp"

namespace tamro::netsnmp {

service_implementation::service_implementation(boost::asio::io_context& context)
    : reactor_(context) {
  SOCK_STARTUP;
}

namespace {

struct protocol_oid {
  const oid* value;
  std::size_t length;
};

protocol_oid oid_of(snmp::auth_protocol protocol) {
  switch (protocol) {
    case snmp::auth_protocol::md5:
      return {usmHMACMD5AuthProtocol, OID_LENGTH(usmHMACMD5AuthProtocol)};
    case snmp::auth_protocol::sha224:
      return {usmHMAC128SHA224AuthProtocol, OID_LENGTH(usmHMAC128SHA224AuthProtocol)};
    case snmp::auth_protocol::sha256:
      return {usmHMAC192SHA256AuthProtocol, OID_LENGTH(usmHMAC192SHA256AuthProtocol)};
    case snmp::auth_protocol::sha384:
      return {usmHMAC256SHA384AuthProtocol, OID_LENGTH(usmHMAC256SHA384AuthProtocol)};
    case snmp::auth_protocol::sha512:
      return {usmHMAC384SHA512AuthProtocol, OID_LENGTH(usmHMAC384SHA512AuthProtocol)};
    case snmp::auth_protocol::sha:
      break;
  }
  return {usmHMACSHA1AuthProtocol, OID_LENGTH(usmHMACSHA1AuthProtocol)};
}

protocol_oid oid_of(snmp::privacy_protocol protocol) {
  switch (protocol) {
    case snmp::privacy_protocol::des:
      return {usmDESPrivProtocol, OID_LENGTH(usmDESPrivProtocol)};
    case snmp::privacy_protocol::aes192:
      return {usmAES192PrivProtocol, OID_LENGTH(usmAES192PrivProtocol)};
    case snmp::privacy_protocol::aes256:
      return {usmAES256PrivProtocol, OID_LENGTH(usmAES256PrivProtocol)};
    case snmp::privacy_protocol::aes:
      break;
  }
  return {usmAESPrivProtocol, OID_LENGTH(usmAESPrivProtocol)};
}

// The master key of a passphrase (a megabyte of hashing): pure computation, so it runs
// outside the library's lock.
int master_key(const protocol_oid& hash, const std::string& passphrase, u_char* key,
               std::size_t& length) {
  std::string text = passphrase;  // the library wants writable text
  return generate_Ku(hash.value, static_cast<u_int>(hash.length),
                     reinterpret_cast<u_char*>(text.data()), text.size(), key, &length);
}

// The user-based security of a v3 session; the keys are localized once the device's engine
// is known. An error is the library's code.
int set_usm(netsnmp_session& parameters, const snmp::usm_credentials& usm,
            std::string& security_name, std::string& context_name) {
  parameters.securityModel = SNMP_SEC_MODEL_USM;
  parameters.securityName = security_name.data();
  parameters.securityNameLen = security_name.size();
  parameters.contextName = context_name.data();
  parameters.contextNameLen = context_name.size();
  parameters.securityLevel = SNMP_SEC_LEVEL_NOAUTH;
  if (usm.level == snmp::security_level::no_auth_no_priv) return SNMPERR_SUCCESS;

  const protocol_oid hash = oid_of(usm.auth);
  parameters.securityLevel = SNMP_SEC_LEVEL_AUTHNOPRIV;
  parameters.securityAuthProto = const_cast<oid*>(hash.value);  // copied by the open
  parameters.securityAuthProtoLen = hash.length;
  parameters.securityAuthKeyLen = USM_AUTH_KU_LEN;
  if (const int error = master_key(hash, usm.auth_passphrase, parameters.securityAuthKey,
                                   parameters.securityAuthKeyLen)) {
    return error;
  }
  if (usm.level == snmp::security_level::auth_no_priv) return SNMPERR_SUCCESS;

  const protocol_oid cipher = oid_of(usm.privacy);
  parameters.securityLevel = SNMP_SEC_LEVEL_AUTHPRIV;
  parameters.securityPrivProto = const_cast<oid*>(cipher.value);
  parameters.securityPrivProtoLen = cipher.length;
  parameters.securityPrivKeyLen = USM_PRIV_KU_LEN;
  return master_key(hash, usm.privacy_passphrase, parameters.securityPrivKey,
                    parameters.securityPrivKeyLen);
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
  if (options.version == SNMP_VERSION_3) {
    if (const int error = set_usm(parameters, options.usm, security_name, context_name)) {
      ec = make_error_code(error);
      return;
    }
    // The library's probe for the engine would wait for the answer on this thread: the
    // engine is discovered by a request of its own instead (engine_probe()).
    parameters.flags |= SNMP_FLAGS_DONT_PROBE;
  } else {
    parameters.community = reinterpret_cast<u_char*>(community_text.data());
    parameters.community_len = community_text.size();
  }
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
  // The keys localized to this engine, in the library's process-wide user list, where a user
  // is known by engine and name: the entry of an earlier session (a reload may have changed
  // the passphrases) gives way to this one.
  std::string name(state->securityName, state->securityNameLen);
  if (usmUser* held = usm_get_user(state->securityEngineID, state->securityEngineIDLen,
                                   name.data())) {
    usm_remove_user(held);  // returns the list, not the user
    usm_free_user(held);
  }
  state->flags &= ~SNMP_FLAGS_USER_CREATED;  // the library may have made one on the report
  const int created = usm_create_user_from_session(state);
  return created == SNMPERR_SUCCESS ? boost::system::error_code{}
                                    : make_error_code(SNMPERR_USM_GENERICERROR);
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
