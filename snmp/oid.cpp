#include "snmp/oid.hpp"

#include <type_traits>

#include "snmp/netsnmp/library.hpp"
#include "snmp/netsnmp/library_lock.hpp"

namespace tamro::snmp {
namespace {

static_assert(std::is_same_v<oid_value::subidentifier, ::oid>);
static_assert(oid_value::max_length == MAX_OID_LEN);

std::string print_oid(const ::oid* name, std::size_t length) {
  char buffer[512];
  buffer[0] = '\0';
  std::lock_guard<std::mutex> lock(netsnmp::library_mutex());  // reads the MIB tree
  snprint_objid(buffer, sizeof buffer, name, length);
  return buffer;
}

}  // namespace

oid_value::oid_value(const std::string& text)
    : buffer_(std::make_unique<subidentifier[]>(max_length)) {
  std::size_t length = max_length;
  std::lock_guard<std::mutex> lock(netsnmp::library_mutex());
  if (read_objid(text.c_str(), buffer_.get(), &length) != 0) {
    length_ = length;
  } else {
    buffer_.reset();
  }
}

std::string oid_value::text() const { return print_oid(buffer_.get(), length_); }

void add_oid(pdu& request, const std::string& oid) {
  const oid_value name(oid);
  snmp_add_null_var(request.get(), name.data(), name.size());
}

std::string numeric_oid_text(const oid_value::subidentifier* parts, std::size_t count) {
  std::string text;
  text.reserve(4 * count);
  for (std::size_t i = 0; i < count; ++i) {
    text += '.';
    text += std::to_string(parts[i]);
  }
  return text;
}

}  // namespace tamro::snmp
