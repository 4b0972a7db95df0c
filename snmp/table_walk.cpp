#include "snmp/table_walk.hpp"

#include <algorithm>
#include <utility>

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

std::string status_text(long status, long index) {
  return "SNMP error status " + error_status_name(status) + " (index " + std::to_string(index) +
         ")";
}

}  // namespace

table_walk::table_walk(const std::set<std::string>& columns, int version, std::size_t max_rows,
                       walk_shape start)
    : bulk_(version != SNMP_VERSION_1), max_rows_(max_rows), shape_(start) {
  if (!bulk_) shape_.rows = 1;  // what a GETNEXT asks for
  for (const std::string& text : columns) {
    column entry;
    entry.text = text;
    const oid_value parsed(text);
    entry.root.assign(parsed.data(), parsed.data() + parsed.size());
    entry.last = entry.root;
    columns_.push_back(std::move(entry));
    // Numeric, as a loaded table's are, but perhaps longer than the library takes.
    if (parsed.empty()) fail(columns_.back(), "not an OID the SNMP library can use");
  }
}

bool table_walk::finished() const {
  return std::none_of(columns_.begin(), columns_.end(),
                      [](const column& c) { return c.progress == state::walking; });
}

bool table_walk::failed() const {
  return !columns_.empty() && std::all_of(columns_.begin(), columns_.end(), [](const column& c) {
    return c.progress == state::failed;
  });
}

pdu table_walk::next_request() {
  pdu request(netsnmp::pdu_implementation::create(bulk_ ? SNMP_MSG_GETBULK : SNMP_MSG_GETNEXT));
  if (bulk_) {
    request.get()->non_repeaters = 0;
    request.get()->max_repetitions = shape_.rows;
  }
  asked_.clear();
  for (std::size_t c = 0; c < columns_.size() && asked_.size() < shape_.columns; ++c) {
    if (columns_[c].progress != state::walking) continue;
    asked_.push_back(c);
    snmp_add_null_var(request.get(), columns_[c].last.data(), columns_[c].last.size());
  }
  ++requests_;
  return request;
}

void table_walk::take(const netsnmp_pdu& answer) {
  if (asked_.empty()) return;  // nothing was asked: whatever came cannot be placed
  answered_ = true;
  const long status = error_status(answer);
  if (status == too_big && shrink()) {
    // The same rows are asked again, in smaller pieces.
  } else if (status == too_big) {
    fail(columns_[asked_.front()], "the answer is too big even for one value");
  } else if (status != 0) {
    take_error(status, error_index(answer));
  } else {
    take_values(answer);
  }
  asked_.clear();
  if (!finished() && requests_ >= max_requests) {
    for (column& walked : columns_)
      if (walked.progress == state::walking)
        fail(walked, "more than " + std::to_string(max_requests) + " requests in one walk");
  }
}

void table_walk::fail_request(const std::string& reason) {
  for (const std::size_t c : asked_) fail(columns_[c], reason);
  asked_.clear();
}

std::vector<table_walk::failure> table_walk::new_failures() { return std::exchange(failures_, {}); }

void table_walk::fail(column& walked, const std::string& reason) {
  walked.progress = state::failed;
  failures_.push_back({walked.text, reason});
}

bool table_walk::shrink() {
  if (shape_.rows > 1) {
    shape_.rows /= 2;
    return true;
  }
  if (asked_.size() > 1) {
    shape_.columns = asked_.size() / 2;
    return true;
  }
  return false;
}

void table_walk::take_error(long status, long index) {
  const bool names_one = index >= 1 && static_cast<std::size_t>(index) <= asked_.size();
  if (!names_one) {
    // Which column the device blames is not known: none of them can go on.
    for (const std::size_t c : asked_) fail(columns_[c], status_text(status, index));
    return;
  }
  column& blamed = columns_[asked_[static_cast<std::size_t>(index) - 1]];
  if (status == no_such_name && !bulk_) {
    blamed.progress = state::complete;  // nothing after its last row
  } else {
    fail(blamed, status_text(status, index));
  }
}

void table_walk::take_values(const netsnmp_pdu& answer) {
  std::size_t position = 0;
  for (const netsnmp_variable_list* varbind = answer.variables; varbind != nullptr;
       varbind = varbind->next_variable, ++position) {
    // A GETBULK answer holds the request's OIDs' successors row after row.
    column& walked = columns_[asked_[position % asked_.size()]];
    if (walked.progress != state::walking) continue;
    if (varbind->type == SNMP_ENDOFMIBVIEW || varbind->type == SNMP_NOSUCHOBJECT ||
        varbind->type == SNMP_NOSUCHINSTANCE ||
        !below(walked.root, varbind->name, varbind->name_length)) {
      walked.progress = state::complete;
      continue;
    }
    if (snmp_oid_compare(varbind->name, varbind->name_length, walked.last.data(),
                         walked.last.size()) <= 0) {
      fail(walked, "the device did not move forward after " +
                       numeric_oid_text(walked.last.data(), walked.last.size()) + " (it answered " +
                       numeric_oid_text(varbind->name, varbind->name_length) + ")");
      continue;
    }
    walked.last.assign(varbind->name, varbind->name + varbind->name_length);
    values_.emplace(numeric_oid_text(varbind->name, varbind->name_length), value_text(*varbind));
    if (++walked.rows >= max_rows_) walked.progress = state::complete;
  }
  if (position == 0) complete_asked();
}

void table_walk::take_nothing() {
  answered_ = true;
  complete_asked();
  asked_.clear();
}

void table_walk::complete_asked() {
  for (const std::size_t c : asked_)
    if (columns_[c].progress == state::walking) columns_[c].progress = state::complete;
}

}  // namespace tamro::snmp
