#include "snmp/netsnmp/usm_session.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "log/logger.hpp"
#include "snmp/netsnmp/library.hpp"
#include "snmp/netsnmp/master_keys.hpp"

namespace tamro::netsnmp {
namespace {

// What two sessions sharing a user entry must agree on.
struct key_identity {
  snmp::security_level level = snmp::security_level::no_auth_no_priv;
  snmp::auth_protocol auth = snmp::auth_protocol::sha;
  std::string auth_key;
  snmp::privacy_protocol privacy = snmp::privacy_protocol::aes;
  std::string privacy_key;

  auto fields() const { return std::tie(level, auth, auth_key, privacy, privacy_key); }
  bool operator==(const key_identity& other) const { return fields() == other.fields(); }
};

struct user_entry {
  key_identity keys;
  std::vector<std::pair<const usm_session*, std::string>> users;  // with the device's label
  std::set<std::string> warned;  // devices told the keys are not theirs
};

// By engine ID and user name, as the library's user list; guarded by the library's lock.
std::map<std::pair<std::string, std::string>, user_entry>& user_entries() {
  static std::map<std::pair<std::string, std::string>, user_entry> entries;
  return entries;
}

std::string engine_of(const u_char* id, std::size_t length) {
  return std::string(reinterpret_cast<const char*>(id), length);
}

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

void replace_engine(u_char*& id, std::size_t& length, const std::string& engine) {
  std::free(id);
  id =
      engine.empty() ? nullptr : static_cast<u_char*>(netsnmp_memdup(engine.data(), engine.size()));
  length = id != nullptr ? engine.size() : 0;
}

void copy_key(const master_key* key, u_char* to, std::size_t& length) {
  length = 0;
  if (key == nullptr) return;
  std::memcpy(to, key->bytes.data(), key->bytes.size());
  length = key->bytes.size();
}

}  // namespace

usm_session::usm_session(std::string label, const snmp::usm_credentials& credentials,
                         master_keys& keys)
    : label_(std::move(label)), credentials_(credentials) {
  if (credentials.level != snmp::security_level::no_auth_no_priv)
    auth_key_ = keys.get(credentials.auth, credentials.auth_passphrase);
  if (credentials.level == snmp::security_level::auth_priv)
    privacy_key_ = keys.get(credentials.auth, credentials.privacy_passphrase);
}

bool usm_session::keys_ready() const {
  return (!auth_key_ || auth_key_->ready()) && (!privacy_key_ || privacy_key_->ready());
}

int usm_session::prepare(netsnmp_session& session) {
  // The library has no entry for an empty name but its default user, which must stay.
  if (session.securityEngineIDLen == 0 || credentials_.security_name.empty()) return 0;
  const std::string engine = engine_of(session.securityEngineID, session.securityEngineIDLen);
  if (using_ && engine == engine_) return 0;
  release();
  engine_ = engine;
  for (const auto* key : {auth_key_.get(), privacy_key_.get()})
    if (key != nullptr && key->error != 0) return key->error;

  key_identity wanted;
  wanted.level = credentials_.level;
  if (auth_key_) {
    wanted.auth = credentials_.auth;
    wanted.auth_key = auth_key_->bytes;
  }
  if (privacy_key_) {
    wanted.privacy = credentials_.privacy;
    wanted.privacy_key = privacy_key_->bytes;
  }
  auto& entries = user_entries();
  const auto [at, added] = entries.try_emplace({engine, credentials_.security_name});
  user_entry& entry = at->second;
  bool install_keys = added;
  if (!added && !(entry.keys == wanted)) {
    if (!entry.users.empty()) {
      // Devices made from one image: the library cannot hold both keys for one engine.
      if (entry.warned.insert(label_).second) {
        log_warning(boost::format("%1% - same SNMPv3 engine ID %2% as %3%, but other keys for "
                                  "user %4%: %1% cannot be polled until the engine IDs differ") %
                    label_ % hex(engine) % entry.users.front().second % credentials_.security_name);
      }
      return 0;  // its requests carry the other device's keys and fail there
    }
    install_keys = true;  // no session uses the old keys any more: a reload changed them
  }
  if (install_keys) {
    entry.keys = std::move(wanted);
    if (const int error = install(session)) {
      entries.erase(at);
      return error;
    }
  }
  entry.users.emplace_back(this, label_);
  using_ = true;
  return 0;
}

int usm_session::install(netsnmp_session& session) const {
  std::string name = credentials_.security_name;
  if (usmUser* held =
          usm_get_user(session.securityEngineID, session.securityEngineIDLen, name.data())) {
    usm_remove_user(held);  // returns the list, not the user
    usm_free_user(held);
  }
  // The library localizes the master keys of the session to its engine (and extends a
  // privacy key for AES-192 and AES-256 the way the protocol says).
  copy_key(auth_key_.get(), session.securityAuthKey, session.securityAuthKeyLen);
  copy_key(privacy_key_.get(), session.securityPrivKey, session.securityPrivKeyLen);
  session.flags &= ~SNMP_FLAGS_USER_CREATED;
  const int created = usm_create_user_from_session(&session);
  std::fill(std::begin(session.securityAuthKey), std::end(session.securityAuthKey), 0);
  std::fill(std::begin(session.securityPrivKey), std::end(session.securityPrivKey), 0);
  session.securityAuthKeyLen = 0;
  session.securityPrivKeyLen = 0;
  return created == SNMPERR_SUCCESS ? 0 : SNMPERR_USM_GENERICERROR;
}

bool usm_session::take_report(netsnmp_session& session, const netsnmp_pdu& report) {
  if (session.securityEngineIDLen == 0) return false;  // a discovery: the library takes it
  const std::string used = engine_of(session.securityEngineID, session.securityEngineIDLen);
  const std::string named = engine_of(report.securityEngineID, report.securityEngineIDLen);
  const bool unknown =
      snmpv3_get_report_type(const_cast<netsnmp_pdu*>(&report)) == SNMPERR_UNKNOWN_ENG_ID;
  if (named == used || (named.empty() && !unknown)) return false;
  release();
  const bool context_follows =
      engine_of(session.contextEngineID, session.contextEngineIDLen) == used;
  replace_engine(session.securityEngineID, session.securityEngineIDLen, named);
  if (context_follows) replace_engine(session.contextEngineID, session.contextEngineIDLen, named);
  if (named.empty()) {
    log_info(boost::format("%1% - SNMPv3 engine ID %2% unknown to the device: it is discovered "
                           "again") %
             label_ % hex(used));
  } else {
    log_info(boost::format("%1% - SNMPv3 engine ID changed from %2% to %3%") % label_ % hex(used) %
             hex(named));
  }
  return true;
}

void usm_session::release() {
  if (using_) {
    const auto found = user_entries().find({engine_, credentials_.security_name});
    if (found != user_entries().end()) {
      auto& users = found->second.users;
      users.erase(std::find_if(users.begin(), users.end(),
                               [this](const auto& user) { return user.first == this; }));
    }
  }
  using_ = false;
  engine_.clear();
}

}  // namespace tamro::netsnmp
