#include "agents/snmp_poller.hpp"

#include <ctemplate/template.h>

#include <boost/property_tree/ptree.hpp>
#include <memory>
#include <utility>

#include "log/logger.hpp"
#include "log/sink.hpp"
#include "mapping/mappers/table.hpp"
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

// What a mapping asks of a device: its answer serves any mapping that asks the same.
std::pair<std::set<std::string>, std::set<std::string>> asked_by(const mapping* used) {
  std::pair<std::set<std::string>, std::set<std::string>> asked;
  if (used) {
    used->collect_oids(asked.first);
    used->collect_columns(asked.second);
  }
  return asked;
}

snmp::session_options session_for(const device_settings& settings) {
  const auto& defaults = snmp::global_settings();
  snmp::session_options options;
  options.version = settings.version;
  options.peer = settings.peer;
  options.community = settings.community;
  options.usm = settings.usm;
  if (options.usm.security_name.empty()) options.usm.security_name = settings.community;
  options.timeout = settings.timeout.value_or(defaults.timeout);
  options.retries = settings.retries.value_or(defaults.retries);
  return options;
}

}  // namespace

snmp_poller::snmp_poller(boost::asio::io_context& io, heartbeat_poster& poster,
                         snmp_channel& channel, const host_identity& identity)
    : agent(io, poster), channel_(channel), identity_(identity) {}

snmp_poller::~snmp_poller() { close_session(); }

std::string snmp_poller::name() const { return settings_.address; }

void snmp_poller::reconfigure(device_settings settings) {
  // An answer being gathered with other settings is of no use; one asked for with the same
  // is kept, so a server that pushes the whole list with every reply does not throw away
  // the answers of slow devices.
  const bool same_asks = session_for(settings) == session_for(settings_) &&
                         asked_by(settings.mapping.get()) == asked_by(settings_.mapping.get());
  const bool answer_serves = !busy() || same_asks;
  // What the device took for walks holds for what was asked of it.
  if (!same_asks) forget_walk_shape();
  settings_ = std::move(settings);
  reinstate();
  if (!answer_serves && disposition() == cycle_disposition::none) discard_answer();
}

std::set<std::string> snmp_poller::requested_oids() const {
  std::set<std::string> oids;
  if (settings_.mapping) settings_.mapping->collect_oids(oids);
  // The server's OIDs are requested in the form the answer is keyed by, so that an OID
  // sent without its leading dot is found and not requested twice.
  for (const requested_statistic& statistic : requested_statistics)
    oids.insert(response_key(statistic.oid));
  for (const requested_alarm& alarm : requested_alarms)
    if (!alarm.oid.empty()) oids.insert(response_key(alarm.oid));
  return oids;
}

void snmp_poller::start_heartbeat() {
  const std::set<std::string> oids = requested_oids();
  if (log_threshold() == log::debug)
    for (const std::string& oid : oids)
      log_debug(boost::format("%1% - requesting %2%") % name() % oid);

  poll_started_ = std::chrono::steady_clock::now();
  if (const auto error = open_session()) {
    // This device's cycle fails; the others and the status reporter go on.
    log_failure(boost::format("%1% - SNMP response error: %2%") % name() % error.message());
    record_failure(false, "SNMP request failed: " + error.message());
    if (busy()) enter(cycle_phase::idle);  // a resend's
    return;
  }
  ++generation_;
  answer_.clear();
  requests_.clear();
  std::set<std::string> columns;
  if (settings_.mapping) settings_.mapping->collect_columns(columns);
  // A mapping of tables alone needs no GET (one without anything still sends one).
  if (!oids.empty() || columns.empty()) requests_.emplace_back(oids.begin(), oids.end());
  requests_sent_ = 0;
  if (channel_.needs_engine(session_)) {
    // The keys of an SNMPv3 user hold only for its engine: learn the engine first.
    enter(cycle_phase::discovering);
    snmp::pdu probe = snmp::service::engine_probe();
    send(probe, &snmp_poller::handle_engine);
    return;
  }
  continue_cycle();
}

void snmp_poller::send(snmp::pdu& request,
                       void (snmp_poller::*handle)(const boost::system::error_code&, snmp::pdu*)) {
  channel_.send(session_, request,
                [this, handle, alive = lifetime(), generation = generation_](
                    const boost::system::error_code& error, snmp::pdu* response) {
                  if (alive.expired()) return;  // the poller is gone
                  if (generation != generation_) {
                    log_error(boost::format("%1% - an SNMP answer of an earlier cycle came "
                                            "during this one and is ignored") %
                              name());
                    return;
                  }
                  (this->*handle)(error, response);
                });
}

void snmp_poller::continue_cycle() {
  if (requests_.empty()) {
    finish_answer();
  } else {
    send_next_request();
  }
}

void snmp_poller::send_next_request() {
  enter(cycle_phase::getting);
  snmp::pdu request = snmp::pdu::get_request();
  snmp::add_oids(request, requests_.back());
  ++requests_sent_;
  send(request, &snmp_poller::handle_response);
  // Lines of every cycle are built only when they are written: at thousands of devices the
  // formatting alone would cost more than the request.
  if (log_debug.enabled()) log_debug(boost::format("%1% - SNMP request sent") % name());
}

snmp::session_options snmp_poller::wanted_session() const { return session_for(settings_); }

boost::system::error_code snmp_poller::open_session() {
  snmp::session_options wanted = wanted_session();
  if (session_ && session_options_ == wanted) return {};
  close_session();
  const auto error = channel_.open(session_, wanted);
  if (!error) session_options_ = std::move(wanted);
  return error;
}

void snmp_poller::close_failed_session() {
  // The next cycle starts on a fresh session, but for SNMPv3: its engine cost a discovery to
  // learn, and the service learns a changed one from the device's report by itself.
  if (session_options_.version != 3) close_session();
}

void snmp_poller::close_session() { channel_.close(session_); }

bool snmp_poller::cancel() {
  if (!waits_for_answer(phase())) return false;
  channel_.cancel(session_);
  return true;
}

void snmp_poller::on_reply(const boost::property_tree::ptree& reply) {
  trap_alarm_id.clear();
  for (const requested_alarm& alarm : requested_alarms) {
    if (alarm.name == trap_alarm_name) {
      trap_alarm_id = alarm.id;
      break;
    }
  }
  if (reply.get_child_optional("heartbeat-reply.requested-alarms"))
    alarms_.forget_unrequested(requested_alarms);
}

bool snmp_poller::goes_on(const boost::system::error_code& error) {
  const bool cancelled = error == netsnmp::make_error_code(netsnmp::aborted);
  if (error && !cancelled) close_failed_session();
  if (retired()) close_session();  // a removed device needs none

  if (retired()) {
    if (error)
      log_debug(boost::format("%1% - marked as dead, ignoring SNMP error \"%2%\"") % name() %
                error.message());
    else
      log_debug(boost::format("%1% - marked as dead, ignoring response") % name());
  } else if (disposition() == cycle_disposition::discard) {
    if (error)
      log_debug(boost::format("%1% - recently recycled, ignoring SNMP error \"%2%\"") % name() %
                error.message());
    else
      log_debug(boost::format("%1% - recently recycled, ignoring SNMP response") % name());
  } else if (cancelled) {
    // Only a stop or a reload cancels, and each reports how many it cancelled.
    if (log_debug.enabled()) log_debug(boost::format("%1% - SNMP request cancelled") % name());
  } else if (error) {
    log_failure(boost::format("%1% - SNMP response error: %2%") % name() % error.message());
    record_failure(error == netsnmp::make_error_code(netsnmp::timed_out),
                   "SNMP request failed: " + error.message());
  } else {
    return true;
  }
  enter(cycle_phase::idle);
  return false;
}

void snmp_poller::fail_cycle(const boost::system::error_code& error) {
  record_failure(false, "SNMP request failed: " + error.message());
  fail_cycle(boost::format("%1% - SNMP response error: %2%") % name() % error.message());
}

void snmp_poller::record_answer() {
  last_poll_duration_ = std::chrono::steady_clock::now() - poll_started_;
  answered_ = true;
  ++agent_statistics::global().snmp_answered;
  if (const auto after = snmp_failures_.succeeded())
    log_info(boost::format("%1% - SNMP answers again %2%") % name() % *after);
}

void snmp_poller::record_failure(bool timed_out, std::string failure) {
  last_poll_duration_ = std::chrono::steady_clock::now() - poll_started_;
  answered_ = false;
  auto& statistics = agent_statistics::global();
  ++(timed_out ? statistics.snmp_timed_out : statistics.snmp_failed);
  last_failure = std::move(failure);
}

void snmp_poller::log_failure(const boost::format& line) {
  if (const auto shown = snmp_failures_.failed(line.str())) log_error(*shown);
}

void snmp_poller::fail_cycle(const boost::format& message) {
  log_failure(message);
  close_failed_session();
  enter(cycle_phase::idle);
}

void snmp_poller::cycle_ended() {
  requests_.clear();
  answer_.clear();
  walk_.reset();
  columns_failed_.clear();
}

void snmp_poller::handle_engine(const boost::system::error_code& error, snmp::pdu* report) {
  // The engine answers the probe with a report that names it, which the library takes for a
  // security error: the engine being known afterwards is the success here.
  const bool cancelled = error == netsnmp::make_error_code(netsnmp::aborted);
  const bool discovered = !cancelled && session_ && !channel_.needs_engine(session_);
  if (!goes_on(discovered ? boost::system::error_code{} : error)) return;
  if (const auto failed = channel_.adopt_engine(session_, report)) {
    fail_cycle(failed);
    return;
  }
  continue_cycle();
}

void snmp_poller::handle_response(const boost::system::error_code& error, snmp::pdu* response) {
  if (!goes_on(error)) return;
  if (log_debug.enabled()) log_debug(boost::format("%1% - SNMP response received") % name());
  std::vector<std::string> asked = std::move(requests_.back());
  requests_.pop_back();

  // A success without a PDU answers nothing: treated like an empty answer.
  if (response && response->get()) {
    const netsnmp_pdu& answer = *response->get();
    if (const auto refused = snmp::report_error(answer)) {
      fail_cycle(refused);  // a wrong passphrase, an unknown user...
      return;
    }
    const long status = snmp::error_status(answer);
    if (status == snmp::too_big && split_request(std::move(asked))) {
      send_next_request();
      return;
    }
    if (status != 0) {
      log_error(boost::format("%1% - SNMP error status %2% (index %3%)") % name() %
                snmp::error_status_name(status) % snmp::error_index(answer));
    }
    for (auto& entry : snmp::response_map(answer)) answer_.insert(std::move(entry));
  }
  continue_cycle();
}

void snmp_poller::finish_answer() {
  if (!walk_ && settings_.mapping) {
    std::set<std::string> columns;
    settings_.mapping->collect_columns(columns);
    if (!columns.empty()) {
      walk_ = std::make_unique<snmp::table_walk>(columns, settings_.version,
                                                 mappers::table::max_rows, walk_shape_);
      continue_walk(false);
      return;
    }
  }
  if (walk_) {
    for (auto& entry : walk_->values()) answer_.insert(std::move(entry));
    walk_.reset();
    for (auto it = column_failures_.begin(); it != column_failures_.end();)
      it = columns_failed_.count(it->first) ? std::next(it) : column_failures_.erase(it);
    columns_failed_.clear();
  }
  record_answer();
  if (log_threshold() == log::debug) {
    log_debug(boost::format("%1% - %2% entries in SNMP response") % name() % answer_.size());
    for (const auto& entry : answer_)
      log_debug(boost::format("%1% - %2% = %3%") % name() % entry.first %
                snmp::log_text(entry.second));
  }
  send_heartbeat();
}

void snmp_poller::continue_walk(bool timed_out) {
  for (const auto& failure : walk_->new_failures()) {
    columns_failed_.insert(failure.column);
    const auto line = (boost::format("%1% - table column %2% not walked to its end: %3%") % name() %
                       failure.column % failure.reason)
                          .str();
    if (const auto shown = column_failures_[failure.column].failed(line)) log_warning(*shown);
  }
  if (!walk_->finished()) {
    enter(cycle_phase::walking);
    snmp::pdu request = walk_->next_request();
    send(request, &snmp_poller::handle_walk);
  } else if (walk_->failed()) {
    // A heartbeat without its tables would tell the server the device has none.
    record_failure(timed_out, "table walk error: no column could be walked");
    fail_cycle(boost::format("%1% - table walk error: no column could be walked") % name());
  } else {
    finish_answer();
  }
}

void snmp_poller::handle_walk(const boost::system::error_code& error, snmp::pdu* response) {
  const bool cancelled = error == netsnmp::make_error_code(netsnmp::aborted);
  // A device that has answered nothing in this cycle is down rather than quirky.
  const bool answered = requests_sent_ > 0 || walk_->answered();
  if (error && !cancelled && answered && !retired() && disposition() == cycle_disposition::none) {
    // Only the columns asked for end: the others may still answer.
    walk_->fail_request(error.message());
    continue_walk(error == netsnmp::make_error_code(netsnmp::timed_out));
    return;
  }
  if (!goes_on(error)) return;
  const snmp::walk_shape asked = walk_->current_shape();
  if (response && response->get()) {
    if (const auto refused = snmp::report_error(*response->get())) {
      fail_cycle(refused);
      return;
    }
    walk_->take(*response->get());
  } else {
    walk_->take_nothing();
  }
  if (walk_->current_shape() != asked) {
    // Kept for the next cycles: the device will not take more then either.
    walk_shape_ = walk_->current_shape();
    if (log_debug.enabled())
      log_debug(boost::format("%1% - answer too big, walking %2% columns of %3% rows a request") %
                name() % walk_shape_.columns % walk_shape_.rows);
  }
  continue_walk(false);
}

bool snmp_poller::split_request(std::vector<std::string> oids) {
  // Bounded: halving a few hundred OIDs down to single ones takes far fewer requests.
  constexpr int most_requests_per_cycle = 64;
  if (oids.size() < 2 ||
      requests_sent_ + static_cast<int>(requests_.size()) + 2 > most_requests_per_cycle) {
    return false;
  }
  const auto middle = oids.begin() + static_cast<std::ptrdiff_t>(oids.size() / 2);
  // Sent from the back: the first half first.
  requests_.emplace_back(middle, oids.end());
  requests_.emplace_back(oids.begin(), middle);
  if (log_debug.enabled())
    log_debug(boost::format("%1% - answer too big, asking for %2% OIDs in two requests") % name() %
              oids.size());
  return true;
}

std::unique_ptr<ctemplate::TemplateDictionary> snmp_poller::make_heartbeat() {
  const snmp::oid_value_map values = std::exchange(answer_, {});
  auto dictionary = std::make_unique<ctemplate::TemplateDictionary>("heartbeat");
  dictionary->SetValue("IP_ADDRESS", settings_.address);
  dictionary->SetValue("TAMRO_MAC_ADDRESS", identity_.mac_address);
  try {
    fill_heartbeat(values, *dictionary);
    return dictionary;
  } catch (const mapping_error& e) {
    log_error(boost::format("%1% - response mapping error: %2%") % name() % e.what());
    last_failure = std::string("response mapping error: ") + e.what();
    if (!requested_alarms.empty() || !requested_statistics.empty() || !pending_traps.empty())
      resend_without_requests();
  } catch (const std::exception& e) {
    log_error(boost::format("%1% - %2%") % name() % e.what());
    log_info(boost::format("%1% - SNMP response discarded, heartbeat not sent") % name());
    last_failure = e.what();
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
  if (settings_.mapping) settings_.mapping->apply(response, dictionary);

  for (const requested_statistic& statistic : requested_statistics) {
    if (const std::string* value = find_value(response, statistic.oid)) {
      ctemplate::TemplateDictionary* section = dictionary.AddSectionDictionary("STATISTICS");
      section->SetValue("STAT_ID", statistic.id);
      section->SetValue("STAT_VALUE", *value);
    }
  }

  const alarm_report alarms = alarms_.evaluate(requested_alarms, response);
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
