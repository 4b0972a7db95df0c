#include "agents/snmp_poller.hpp"

#include <ctemplate/template.h>

#include <boost/asio/io_context.hpp>
#include <boost/property_tree/ptree.hpp>
#include <memory>
#include <utility>

#include "agents/alarm_evaluation.hpp"
#include "log/logger.hpp"
#include "log/sink.hpp"
#include "mapping/mapping_error.hpp"
#include "reporting/agent_statistics.hpp"
#include "snmp/netsnmp/error_category.hpp"
#include "snmp/oid.hpp"
#include "snmp/pdu.hpp"
#include "snmp/response.hpp"
#include "snmp/settings.hpp"
#include "snmp/value_text.hpp"

namespace tamro::agents {
namespace {

constexpr const char* trap_alarm_name = "snmp_trap";

}  // namespace

snmp_poller::snmp_poller(boost::asio::io_context& io, const host_identity& identity)
    : agent(io), service_(boost::asio::use_service<snmp::service>(io)), identity_(identity) {}

snmp_poller::~snmp_poller() { close_session(); }

std::string snmp_poller::name() const { return address; }

void snmp_poller::start_heartbeat() {
  snmp::pdu request = snmp::pdu::get_request();

  std::set<std::string> oids;
  if (mapping) mapping->collect_oids(oids);
  // The server's OIDs are requested in the form the answer is keyed by, so that an OID
  // sent without its leading dot is found and not requested twice.
  for (const requested_statistic& statistic : requested_statistics)
    oids.insert(response_key(statistic.oid));
  for (const requested_alarm& alarm : requested_alarms)
    if (!alarm.oid.empty()) oids.insert(response_key(alarm.oid));

  if (log_threshold() == log::debug)
    for (const std::string& oid : oids)
      log_debug(boost::format("%1% - requesting %2%") % name() % oid);
  snmp::add_oids(request, oids);

  if (const auto error = open_session()) {
    // This device's cycle fails; the others and the status reporter go on.
    log_error(boost::format("%1% - SNMP response error: %2%") % name() % error.message());
    last_failure = "SNMP request failed: " + error.message();
    return;
  }
  service_.async_send(session_, request,
                      [this](const boost::system::error_code& e, snmp::pdu* response) {
                        handle_response(e, response);
                      });
  // Lines of every cycle are built only when they are written: at thousands of devices the
  // formatting alone would cost more than the request.
  if (log_debug.enabled()) log_debug(boost::format("%1% - SNMP request sent") % name());
  awaiting_answer_ = true;
  poll_started_ = std::chrono::steady_clock::now();
  busy = true;
}

boost::system::error_code snmp_poller::open_session() {
  const auto& snmp_settings = snmp::global_settings();
  const session_settings wanted{version, peer, community, snmp_settings.timeout,
                                snmp_settings.retries};
  if (session_ && session_settings_ == wanted) return {};
  close_session();
  boost::system::error_code error;
  service_.open(error, session_, version, peer, community);
  if (!error) session_settings_ = wanted;
  return error;
}

void snmp_poller::close_session() {
  // Without a session there is nothing to close; the service's complaint is of no interest.
  if (session_) service_.close(session_);
}

bool snmp_poller::cancel() {
  // Without a session there is nothing to cancel; the service's complaint is of no interest.
  service_.cancel(session_);
  return awaiting_answer_;
}

void snmp_poller::on_reply(const boost::property_tree::ptree& /*reply*/) {
  trap_alarm_id.clear();
  for (const requested_alarm& alarm : requested_alarms) {
    if (alarm.name == trap_alarm_name) {
      trap_alarm_id = alarm.id;
      break;
    }
  }
}

void snmp_poller::handle_response(const boost::system::error_code& error, snmp::pdu* response) {
  awaiting_answer_ = false;
  const bool cancelled = error == netsnmp::make_error_code(netsnmp::aborted);
  // After a failure the next cycle starts on a fresh session; a removed device needs none.
  if ((error && !cancelled) || dead) close_session();

  if (recycled) {
    if (error)
      log_debug(boost::format("%1% - recently recycled, ignoring SNMP error \"%2%\"") % name() %
                error.message());
    else
      log_debug(boost::format("%1% - recently recycled, ignoring SNMP response") % name());
    recycled = false;
    busy = false;
    return;
  }
  if (dead) {
    if (error)
      log_debug(boost::format("%1% - marked as dead, ignoring SNMP error \"%2%\"") % name() %
                error.message());
    else
      log_debug(boost::format("%1% - marked as dead, ignoring response") % name());
    busy = false;
    return;
  }
  if (cancelled) {
    // Only a stop or a reload cancels, and each reports how many it cancelled.
    if (log_debug.enabled()) log_debug(boost::format("%1% - SNMP request cancelled") % name());
    busy = false;
    return;
  }
  auto& statistics = agent_statistics::global();
  last_poll_duration_ = std::chrono::steady_clock::now() - poll_started_;
  answered_ = !error;
  if (error) {
    ++(error == netsnmp::make_error_code(netsnmp::timed_out) ? statistics.snmp_timed_out
                                                             : statistics.snmp_failed);
    log_error(boost::format("%1% - SNMP response error: %2%") % name() % error.message());
    last_failure = "SNMP request failed: " + error.message();
    busy = false;
    return;
  }
  ++statistics.snmp_answered;
  if (log_debug.enabled()) log_debug(boost::format("%1% - SNMP response received") % name());

  // A success without a PDU answers nothing: treated like an empty answer.
  answer_ =
      response && response->get() ? snmp::response_map(*response->get()) : snmp::oid_value_map{};
  if (log_threshold() == log::debug) {
    log_debug(boost::format("%1% - %2% entries in SNMP response") % name() % answer_.size());
    for (const auto& entry : answer_)
      log_debug(boost::format("%1% - %2% = %3%") % name() % entry.first %
                snmp::log_text(entry.second));
  }
  send_heartbeat();
}

std::unique_ptr<ctemplate::TemplateDictionary> snmp_poller::make_heartbeat() {
  const snmp::oid_value_map values = std::exchange(answer_, {});
  if (dead) {  // removed while its heartbeat waited: nobody wants it any more
    busy = false;
    return nullptr;
  }
  auto dictionary = std::make_unique<ctemplate::TemplateDictionary>("heartbeat");
  dictionary->SetValue("IP_ADDRESS", address);
  dictionary->SetValue("TAMRO_MAC_ADDRESS", identity_.mac_address);
  try {
    fill_heartbeat(values, *dictionary);
    return dictionary;
  } catch (const mapping_error& e) {
    log_error(boost::format("%1% - response mapping error: %2%") % name() % e.what());
    last_failure = std::string("response mapping error: ") + e.what();
    busy = false;
    if (!requested_alarms.empty() || !requested_statistics.empty() || !pending_traps.empty())
      resend_without_requests();
  } catch (const std::exception& e) {
    log_error(boost::format("%1% - %2%") % name() % e.what());
    log_info(boost::format("%1% - SNMP response discarded, heartbeat not sent") % name());
    last_failure = e.what();
    busy = false;
  }
  return nullptr;
}

void snmp_poller::resend_without_requests() {
  // The server's extra OIDs may be what spoilt the answer: ask again without them, once
  // (the lists are empty for the second attempt).
  log_info(boost::format("%1% - clearing requested alerts, stats and traps lists") % name());
  requested_alarms.clear();
  requested_statistics.clear();
  pending_traps.clear();
  log_info(boost::format("%1% - resending SNMP request") % name());
  start_heartbeat();
}

void snmp_poller::fill_heartbeat(const snmp::oid_value_map& response,
                                 ctemplate::TemplateDictionary& dictionary) {
  if (mapping) mapping->apply(response, dictionary);

  for (const requested_statistic& statistic : requested_statistics) {
    if (const std::string* value = find_value(response, statistic.oid)) {
      ctemplate::TemplateDictionary* section = dictionary.AddSectionDictionary("STATISTICS");
      section->SetValue("STAT_ID", statistic.id);
      section->SetValue("STAT_VALUE", *value);
    }
  }

  const alarm_report alarms = evaluate_alarms(requested_alarms, response, active_alarms);
  for (const alarm_failure& failure : alarms.failures)
    log_warning(boost::format("%1% - error while processing alert [%2%] [%3%]: %4%") % name() %
                failure.name % failure.oid % failure.message);
  for (const alarm_transition& transition : alarms.transitions) {
    ctemplate::TemplateDictionary* section = dictionary.AddSectionDictionary("ALARMS");
    section->SetValue("ALARM_ID", transition.id);
    section->SetValue("ALARM_STATUS", transition.status);
    section->SetValue("ALARM_VALUE", transition.value);
  }

  if (trap_alarm_id.empty()) return;
  for (const std::string& trap : pending_traps) {
    ctemplate::TemplateDictionary* section = dictionary.AddSectionDictionary("ALARMS");
    section->SetValue("ALARM_ID", trap_alarm_id);
    section->SetValue("ALARM_STATUS", "inactive");
    section->SetValue("ALARM_VALUE", "0");
    section->SetValue("ALARM_CDATA", trap);
  }
}

}  // namespace tamro::agents
