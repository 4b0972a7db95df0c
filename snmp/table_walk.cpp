#include "snmp/table_walk.hpp"

#include <algorithm>

#include "snmp/netsnmp/library.hpp"
#include "snmp/netsnmp/pdu_implementation.hpp"
#include "snmp/response.hpp"
#include "snmp/value_text.hpp"

namespace tamro::snmp {
namespace {

constexpr long no_such_name = 2;  // SNMPv1's answer to a GETNEXT past the last object

bool below(const std::vector<oid_value::subidentifier>& root, const oid* name, std::size_t length) {
  return length > root.size() && std::equal(root.begin(), root.end(), name);
}

}  // namespace

table_walk::table_walk(const std::set<std::string>& columns, int version, std::size_t max_rows)
    : bulk_(version != SNMP_VERSION_1), max_rows_(max_rows) {
  for (const std::string& text : columns) {
    const oid_value parsed(text);
    if (parsed.empty()) continue;  // cannot happen for a loaded table: its OIDs are numeric
    column entry;
    entry.root.assign(parsed.data(), parsed.data() + parsed.size());
    entry.last = entry.root;
    columns_.push_back(std::move(entry));
  }
}

bool table_walk::finished() const {
  return std::all_of(columns_.begin(), columns_.end(), [](const column& c) { return c.done; });
}

pdu table_walk::next_request() {
  pdu request(netsnmp::pdu_implementation::create(bulk_ ? SNMP_MSG_GETBULK : SNMP_MSG_GETNEXT));
  if (bulk_) {
    request.get()->non_repeaters = 0;
    request.get()->max_repetitions = rows_per_request;
  }
  asked_.clear();
  for (std::size_t c = 0; c < columns_.size() && asked_.size() < columns_per_request; ++c) {
    if (columns_[c].done) continue;
    asked_.push_back(c);
    snmp_add_null_var(request.get(), columns_[c].last.data(), columns_[c].last.size());
  }
  ++requests_;
  return request;
}

std::string table_walk::take(const netsnmp_pdu& answer) {
  const long status = error_status(answer);
  if (status == no_such_name && !bulk_) {
    // The device has nothing after this column's last row: it is complete.
    const long index = error_index(answer);
    if (index < 1 || static_cast<std::size_t>(index) > asked_.size()) {
      return "SNMP error status noSuchName (index " + std::to_string(index) + ") in a walk";
    }
    columns_[asked_[static_cast<std::size_t>(index) - 1]].done = true;
  } else if (status != 0) {
    return "SNMP error status " + error_status_name(status) + " (index " +
           std::to_string(error_index(answer)) + ") in a walk";
  } else {
    std::size_t position = 0;
    for (const netsnmp_variable_list* varbind = answer.variables; varbind != nullptr;
         varbind = varbind->next_variable, ++position) {
      // A GETBULK answer holds the request's OIDs' successors row after row.
      column& walked = columns_[asked_[position % asked_.size()]];
      if (walked.done) continue;
      if (varbind->type == SNMP_ENDOFMIBVIEW || varbind->type == SNMP_NOSUCHOBJECT ||
          varbind->type == SNMP_NOSUCHINSTANCE ||
          !below(walked.root, varbind->name, varbind->name_length)) {
        walked.done = true;
        continue;
      }
      if (snmp_oid_compare(varbind->name, varbind->name_length, walked.last.data(),
                           walked.last.size()) <= 0) {
        return "the device did not move forward in " +
               numeric_oid_text(walked.root.data(), walked.root.size()) + " (after " +
               numeric_oid_text(walked.last.data(), walked.last.size()) + ")";
      }
      walked.last.assign(varbind->name, varbind->name + varbind->name_length);
      values_.emplace(numeric_oid_text(varbind->name, varbind->name_length), value_text(*varbind));
      if (++walked.rows >= max_rows_) walked.done = true;
    }
    if (position == 0) {
      for (const std::size_t c : asked_) columns_[c].done = true;  // nothing more to come
    }
  }
  if (!finished() && requests_ >= max_requests) {
    return "more than " + std::to_string(max_requests) + " requests in one walk";
  }
  return {};
}

}  // namespace tamro::snmp
