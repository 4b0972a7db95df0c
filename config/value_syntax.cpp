#include "config/value_syntax.hpp"

#include <cctype>
#include <charconv>

namespace tamro {
namespace {

bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

bool is_numeric_oid(std::string_view text) {
  if (!text.empty() && text.front() == '.') text.remove_prefix(1);
  bool digit_before = false;
  for (const char c : text) {
    if (is_digit(c)) {
      digit_before = true;
    } else if (c == '.' && digit_before) {
      digit_before = false;
    } else {
      return false;
    }
  }
  return digit_before;
}

std::optional<unsigned> parse_port(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned port = 0;
  for (const char c : text) {
    if (!is_digit(c)) return std::nullopt;
    port = port * 10 + static_cast<unsigned>(c - '0');
  }
  if (port > 65535) return std::nullopt;
  return port;
}

bool is_whole_number(std::string_view text) {
  text = trimmed(text);
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  if (text.empty()) return false;
  for (const char c : text)
    if (!is_digit(c)) return false;
  return true;
}

std::optional<long long> parse_integer(std::string_view text, long long lowest, long long highest) {
  if (!is_whole_number(text)) return std::nullopt;
  text = trimmed(text);
  if (text.front() == '+') text.remove_prefix(1);  // from_chars takes a minus only
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < lowest || value > highest)
    return std::nullopt;
  return value;
}

}  // namespace tamro
