#pragma once

#include <cstddef>
#include <memory>
#include <set>
#include <string>

#include "snmp/netsnmp/types.hpp"
#include "snmp/pdu.hpp"

namespace tamro::snmp {

// An OID parsed by the library from its text form. Text that does not parse gives an empty
// value (no sub-identifiers), which no response ever matches.
class oid_value {
 public:
  using subidentifier = unsigned long;  // the library's `oid`
  static constexpr std::size_t max_length = 128;

  explicit oid_value(const std::string& text);

  const subidentifier* data() const { return buffer_.get(); }
  std::size_t size() const { return length_; }
  bool empty() const { return length_ == 0; }
  // The library's printed form: a leading dot and numbers once numeric output is configured.
  std::string text() const;

 private:
  std::unique_ptr<subidentifier[]> buffer_;
  std::size_t length_ = 0;
};

// Appends a varbind with a null value for the OID text.
void add_oid(pdu& request, const std::string& oid);

// One varbind per OID text, in the order of the range.
template <class Range>
void add_oids(pdu& request, const Range& oids) {
  for (const auto& text : oids) add_oid(request, text);
}

// Dotted numbers with a leading dot (".1.3.6.1.2.1.1.5.0"), the form of an answer's keys,
// without a trip through the library.
std::string numeric_oid_text(const oid_value::subidentifier* parts, std::size_t count);

}  // namespace tamro::snmp
