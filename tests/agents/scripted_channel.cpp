#include "tests/agents/scripted_channel.hpp"

#include <boost/asio/post.hpp>
#include <memory>
#include <stdexcept>

#include "snmp/netsnmp/error_category.hpp"
#include "snmp/netsnmp/library.hpp"
#include "snmp/oid.hpp"

namespace tamro::agents::test_support {
namespace {

snmp::pdu response_pdu(int command) { return snmp::pdu(snmp_pdu_create(command)); }

}  // namespace

bool scripted_channel::probe_waiting() const {
  return !requests_.empty() && requests_.front().pdu.get()->variables == nullptr &&
         requests_.front().pdu.get()->command == SNMP_MSG_GET;
}

bool scripted_channel::walk_waiting() const {
  if (requests_.empty()) return false;
  const int command = requests_.front().pdu.get()->command;
  return command == SNMP_MSG_GETBULK || command == SNMP_MSG_GETNEXT;
}

std::vector<std::string> scripted_channel::asked() const {
  std::vector<std::string> oids;
  if (requests_.empty()) return oids;
  for (const netsnmp_variable_list* v = requests_.front().pdu.get()->variables; v != nullptr;
       v = v->next_variable)
    oids.push_back(snmp::numeric_oid_text(v->name, v->name_length));
  return oids;
}

void scripted_channel::answer(const snmp::oid_value_map& values, long error_status) {
  if (requests_.empty()) throw std::logic_error("no request to answer");
  snmp::pdu response = response_pdu(SNMP_MSG_RESPONSE);
  response.get()->errstat = error_status;
  for (const auto& [oid, value] : values) {
    const snmp::oid_value name(oid);
    snmp_pdu_add_variable(response.get(), name.data(), name.size(), ASN_OCTET_STR, value.data(),
                          value.size());
  }
  request first = std::move(requests_.front());
  requests_.pop_front();
  // The engine's report to the probe (a request without varbinds) makes it known.
  if (first.pdu.get()->variables == nullptr) engine_known_.insert(first.session);
  complete(std::move(first), {}, std::move(response));
}

void scripted_channel::answer_report() {
  if (requests_.empty()) throw std::logic_error("no request to answer");
  request first = std::move(requests_.front());
  requests_.pop_front();
  complete(std::move(first), {}, response_pdu(SNMP_MSG_REPORT));
}

void scripted_channel::fail(const boost::system::error_code& error) {
  if (requests_.empty()) throw std::logic_error("no request to fail");
  request first = std::move(requests_.front());
  requests_.pop_front();
  complete(std::move(first), error, snmp::pdu());
}

void scripted_channel::complete(request done, const boost::system::error_code& error,
                                snmp::pdu response) {
  auto answer = std::make_shared<snmp::pdu>(std::move(response));
  boost::asio::post(io_, [done = std::move(done.done), error, answer] {
    done(error, answer->get() ? answer.get() : nullptr);
  });
}

boost::system::error_code scripted_channel::open(session_handle& session,
                                                 const snmp::session_options&) {
  ++opens;
  if (open_error) return open_error;
  session = reinterpret_cast<session_handle>(next_session_++);
  open_.insert(session);
  if (!engine_unknown) engine_known_.insert(session);
  return {};
}

void scripted_channel::close(session_handle& session) {
  if (!session) return;
  ++closes;
  cancel(session);
  open_.erase(session);
  session = nullptr;
}

void scripted_channel::cancel(session_handle session) {
  if (!session) return;
  ++cancels;
  for (auto it = requests_.begin(); it != requests_.end();) {
    if (it->session != session) {
      ++it;
      continue;
    }
    request cancelled = std::move(*it);
    it = requests_.erase(it);
    complete(std::move(cancelled), netsnmp::make_error_code(netsnmp::aborted), snmp::pdu());
  }
}

bool scripted_channel::needs_engine(session_handle session) const {
  return engine_known_.count(session) == 0;
}

boost::system::error_code scripted_channel::adopt_engine(session_handle, const snmp::pdu*) {
  return {};
}

void scripted_channel::send(session_handle session, snmp::pdu& request, completion done) {
  requests_.push_back({session, std::move(request), std::move(done)});
}

}  // namespace tamro::agents::test_support
