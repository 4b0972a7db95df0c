#pragma once

#include <memory>
#include <string>

#include "snmp/netsnmp/types.hpp"
#include "snmp/session_options.hpp"

struct snmp_session;
typedef struct snmp_session netsnmp_session;

namespace tamro::netsnmp {

class master_key;
class master_keys;

// The user-based security of one SNMPv3 session: its credentials with their master keys, and
// its use of the library's user entry, of which there is one per engine ID and user name in
// the whole process. Sessions whose keys agree share an entry; a session whose keys differ
// from those of a device still using the entry (a device cloned with its engine ID) is told
// apart and logged once. All but keys_ready() are called with the library's lock held.
class usm_session {
 public:
  // `label` names the device in log lines.
  usm_session(std::string label, const snmp::usm_credentials& credentials, master_keys& keys);
  usm_session(const usm_session&) = delete;
  usm_session& operator=(const usm_session&) = delete;

  const std::string& label() const { return label_; }
  // Whether the master keys are derived (or failed to be). Any thread.
  bool keys_ready() const;

  // Before a request leaves: the user entry of the session's engine holds this session's
  // keys, localized to it. A discovery (no engine yet) needs none. The library's code of
  // what failed, or 0.
  int prepare(netsnmp_session& session);
  // A report in place of the answer: when it says the engine ID the session uses is not the
  // device's, the session takes the one the report names (none: it is discovered again).
  // Whether it did.
  bool take_report(netsnmp_session& session, const netsnmp_pdu& report);
  // The session closes.
  void release();

 private:
  int install(netsnmp_session& session) const;

  std::string label_;
  snmp::usm_credentials credentials_;
  std::shared_ptr<const master_key> auth_key_;
  std::shared_ptr<const master_key> privacy_key_;
  std::string engine_;  // of the user entry this session uses (or was refused)
  bool using_ = false;  // the entry holds this session's keys
};

}  // namespace tamro::netsnmp
