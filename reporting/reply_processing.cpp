#include "reporting/reply_processing.hpp"

#include <boost/format.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cstdint>
#include <exception>
#include <istream>
#include <stdexcept>

#include "config/value_syntax.hpp"
#include "config/xml_file.hpp"
#include "log/logger.hpp"
#include "reporting/agent.hpp"

namespace tamro {
namespace {

using boost::property_tree::ptree;

alarm_op parse_op(const std::string& text) {
  if (text == "above") return alarm_op::above;
  if (text == "below") return alarm_op::below;
  if (text == "equal") return alarm_op::equal;
  throw std::runtime_error("unknown \"op\" specification: " + text);
}

void apply_interval(agent& target, const ptree& reply) {
  try {
    const auto text = reply.get<std::string>("heartbeat-interval");
    const auto parsed = reply.get_optional<std::int32_t>("heartbeat-interval");
    if (!parsed) {
      throw std::invalid_argument((boost::format("\"%1%\" is not a whole number of seconds, "
                                                 "keeping %2% seconds") %
                                   text % target.interval.total_seconds())
                                      .str());
    }
    const std::int32_t seconds = *parsed;
    // A zero or negative interval would post at every tick, and the status reporter's is
    // written back to a file that refuses values above its limit: keep the current one.
    if (seconds < 1) {
      throw std::out_of_range((boost::format("%1% is below 1 second, keeping %2% seconds") %
                               seconds % target.interval.total_seconds())
                                  .str());
    }
    if (seconds > target.longest_interval_seconds) {
      throw std::out_of_range((boost::format("%1% is above %2% seconds, keeping %3% seconds") %
                               seconds % target.longest_interval_seconds %
                               target.interval.total_seconds())
                                  .str());
    }
    if (seconds != target.interval.total_seconds()) {
      target.interval = boost::posix_time::seconds(seconds);
      target.interval_changed = true;
    }
  } catch (const std::exception& e) {
    log_error(boost::format("%1% - while parsing heartbeat interval: %2%") % target.name() %
              e.what());
  }
}

void apply_statistics(agent& target, const ptree& reply) {
  try {
    const ptree& statistics = reply.get_child("requested-statistics");
    target.requested_statistics.clear();
    for (const auto& [element, stat] : statistics) {
      if (element != "stat") continue;
      std::string id = stat.get<std::string>("<xmlattr>.id");
      std::string oid = stat.get<std::string>("<xmlattr>.oid");
      if (is_numeric_oid(oid)) {
        target.requested_statistics.push_back({std::move(oid), std::move(id)});
        log_debug(boost::format("%1% - statistic requested: \"%2%\"") % target.name() %
                  stat.get<std::string>("<xmlattr>.desc", "<unknown>"));
      } else {
        log_warning(boost::format("%1% - invalid SNMP OID \"%2%\" - ignoring") % target.name() %
                    oid);
        log_warning(boost::format("%1% - (TAMRO does not support the $(eth0) type placeholders)") %
                    target.name());
      }
    }
  } catch (const std::exception& e) {
    log_error(boost::format("%1% - while parsing requested stats: %2%") % target.name() % e.what());
  }
}

void apply_alarms(agent& target, const ptree& reply) {
  try {
    const ptree& alarms = reply.get_child("requested-alarms");
    target.requested_alarms.clear();
    for (const auto& [element, definition] : alarms) {
      if (element != "alarm") continue;
      try {
        requested_alarm alarm;
        alarm.id = definition.get<std::string>("<xmlattr>.id");
        alarm.name = definition.get<std::string>("<xmlattr>.name");
        alarm.oid = definition.get<std::string>("<xmlattr>.oid");
        alarm.threshold = definition.get<std::int64_t>("<xmlattr>.threshold");
        const std::string op = definition.get<std::string>("<xmlattr>.op");
        alarm.op = parse_op(op);
        target.requested_alarms.push_back(alarm);
        log_debug(boost::format("%1% - alert requested: [%2%] [%3%] %4% %5%") % target.name() %
                  alarm.name % alarm.oid % op % alarm.threshold);
      } catch (const std::exception& e) {
        log_warning(boost::format("%1% - ignoring requested alert definition: %2%") %
                    target.name() % e.what());
      }
    }
  } catch (const std::exception& e) {
    log_error(boost::format("%1% - while parsing requested alerts: %2%") % target.name() %
              e.what());
  }
}

}  // namespace

void process_reply(agent& target, const std::string& body) {
  ptree document;
  try {
    document = read_xml_text(body);
  } catch (const std::exception& e) {
    log_error(boost::format("%1% - while parsing KLAV server response XML: %2%") % target.name() %
              e.what());
    return;
  }
  const auto reply = document.get_child_optional("heartbeat-reply");
  if (!reply) {
    log_error(boost::format("%1% - <heartbeat-reply> not found in response XML") % target.name());
    return;
  }
  apply_interval(target, *reply);
  apply_statistics(target, *reply);
  apply_alarms(target, *reply);
  target.on_reply(document);
}

}  // namespace tamro
