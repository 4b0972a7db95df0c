#include "mapping/mac_address.hpp"

#include <boost/regex.hpp>
#include <cctype>

namespace tamro {

namespace {

const char hex_digits[] = "0123456789ABCDEF";

bool is_separator(char c) { return c == ':' || c == '.' || c == ' ' || c == '-'; }

std::string from_raw_bytes(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (i > 0) out += ':';
    out += hex_digits[byte >> 4];
    out += hex_digits[byte & 0x0F];
  }
  return out;
}

// Only called on text that matched the pattern, so every pair read lies inside the text.
// Walking pair by pair also covers texts with separators after only some of the pairs.
std::string from_hex_pairs(const std::string& text) {
  std::string out;
  std::size_t at = 0;
  for (int pair = 0; pair < 6; ++pair) {
    if (pair > 0) {
      if (is_separator(text[at])) ++at;
      out += ':';
    }
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(text[at])));
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(text[at + 1])));
    at += 2;
  }
  return out;
}

}  // namespace

bool normalize_mac_address(std::string& text) {
  if (text.size() == 6) {
    text = from_raw_bytes(text);
    return true;
  }
  static const boost::regex pattern("[[:xdigit:]]{2}([:\\. -]?[[:xdigit:]]{2}){5}",
                                    boost::regex::perl);
  if (!boost::regex_match(text, pattern)) return false;
  text = from_hex_pairs(text);
  return true;
}

}  // namespace tamro
