#include "snmp/value_text.hpp"

#include <cstdint>
#include <locale>
#include <sstream>

#include "snmp/netsnmp/library.hpp"
#include "snmp/oid.hpp"

namespace tamro::snmp {
namespace {

constexpr char hex_digits[] = "0123456789ABCDEF";

void append_hex(std::string& text, unsigned char byte) {
  text += hex_digits[byte >> 4];
  text += hex_digits[byte & 0x0F];
}

// Printable text as it is (less one trailing NUL that C agents often send), anything else as
// hexadecimal: a MAC address 00 1a 2b 3c 4d 5e gives 001A2B3C4D5E.
std::string octet_string_text(const unsigned char* bytes, std::size_t length) {
  std::size_t printable = 0;
  while (printable < length && bytes[printable] >= 0x20 && bytes[printable] <= 0x7E) ++printable;
  if (printable == length) return std::string(reinterpret_cast<const char*>(bytes), length);
  if (printable == length - 1 && bytes[printable] == 0) {
    return std::string(reinterpret_cast<const char*>(bytes), printable);
  }
  std::string text;
  text.reserve(2 * length);
  for (std::size_t i = 0; i < length; ++i) append_hex(text, bytes[i]);
  return text;
}

template <class Number>
std::string stream_text(Number value) {
  std::ostringstream stream;
  stream.imbue(std::locale::classic());
  stream << value;
  return stream.str();
}

std::string unrecognized_type(unsigned char type) {
  std::string text = "(unrecognized type 0x";
  text += "0123456789abcdef"[type >> 4];
  text += "0123456789abcdef"[type & 0x0F];
  return text + ")";
}

}  // namespace

std::string value_text(const netsnmp_variable_list& varbind) {
  const auto& value = varbind.val;
  switch (varbind.type) {
    case ASN_INTEGER:
      return value.integer ? std::to_string(static_cast<std::int32_t>(*value.integer)) : "0";
    case ASN_OCTET_STR:
      return value.string ? octet_string_text(value.string, varbind.val_len) : std::string();
    case ASN_NULL:
      return "(null)";
    case ASN_IPADDRESS: {
      if (varbind.val_len != 4 || value.string == nullptr) {
        return "(unrecognized IP address format)";
      }
      const unsigned char* b = value.string;
      return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
             std::to_string(b[3]);
    }
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
      return value.integer ? std::to_string(static_cast<std::uint32_t>(*value.integer)) : "0";
    case ASN_COUNTER64:
      return value.counter64 ? std::to_string((std::uint64_t{value.counter64->high} << 32) |
                                              (value.counter64->low & 0xFFFFFFFFu))
                             : "0";
    case ASN_OBJECT_ID:
      return value.objid ? numeric_oid_text(value.objid, varbind.val_len / sizeof(oid)) : "";
    case ASN_FLOAT:
#ifdef NETSNMP_WITH_OPAQUE_SPECIAL_TYPES
    case ASN_OPAQUE_FLOAT:  // what the library makes of a float wrapped in an Opaque
#endif
      return value.floatVal ? stream_text(*value.floatVal) : "0";
    case ASN_DOUBLE:
#ifdef NETSNMP_WITH_OPAQUE_SPECIAL_TYPES
    case ASN_OPAQUE_DOUBLE:
#endif
      return value.doubleVal ? stream_text(*value.doubleVal) : "0";
    case SNMP_NOSUCHOBJECT:
      return "(no such object)";
    case SNMP_NOSUCHINSTANCE:
      return "(no such instance)";
    case SNMP_ENDOFMIBVIEW:
      return "(end of MIB view)";
    default:
      return unrecognized_type(varbind.type);
  }
}

std::string log_text(const std::string& value) {
  bool binary = false;
  for (const char c : value) binary = binary || static_cast<unsigned char>(c) >= 0x80;
  if (!binary) return value;
  std::string text;
  text.reserve(3 * value.size());
  for (const char c : value) {
    if (!text.empty()) text += ' ';
    append_hex(text, static_cast<unsigned char>(c));
  }
  return text;
}

}  // namespace tamro::snmp
