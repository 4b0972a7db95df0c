#include "reporting/response_parser.hpp"

#include <cstdint>

namespace tamro::http {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_control(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 32 || byte == 127;
}

bool is_token(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte < 33 || byte > 126) return false;
  switch (c) {
    case '(':
    case ')':
    case '<':
    case '>':
    case '@':
    case ',':
    case ';':
    case ':':
    case '\\':
    case '"':
    case '/':
    case '[':
    case ']':
    case '?':
    case '=':
    case '{':
    case '}':
      return false;
    default:
      return true;
  }
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// Reads one or more digits; the value saturates at limit + 1 so that callers can refuse it.
bool read_number(std::string_view text, std::size_t& i, unsigned limit, unsigned& value) {
  if (i >= text.size() || !is_digit(text[i])) return false;
  value = 0;
  while (i < text.size() && is_digit(text[i])) {
    if (value <= limit) value = value * 10 + static_cast<unsigned>(text[i] - '0');
    if (value > limit) value = limit + 1;
    ++i;
  }
  return true;
}

// Appends value bytes up to the line end, which must be CR LF.
bool read_value(std::string_view text, std::size_t& i, std::string& value) {
  const auto start = i;
  while (i < text.size() && !is_control(text[i])) ++i;
  value.append(text.substr(start, i - start));
  if (text.substr(i, 2) != "\r\n") return false;
  i += 2;
  return true;
}

// Calls each for the trimmed, lower-case elements of a comma-separated list.
template <class Each>
void for_each_token(std::string_view list, Each each) {
  while (!list.empty()) {
    const auto comma = list.find(',');
    auto item = list.substr(0, comma);
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
    std::string token(item);
    for (auto& c : token) c = lower(c);
    if (!token.empty()) each(token);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
}

}  // namespace

std::optional<status_line> parse_status_line(std::string_view text) {
  constexpr unsigned version_limit = 1000000;
  status_line line;
  std::size_t i = 0;
  if (text.substr(0, 5) != "HTTP/") return std::nullopt;
  i = 5;
  if (!read_number(text, i, version_limit, line.major_version)) return std::nullopt;
  if (i >= text.size() || text[i++] != '.') return std::nullopt;
  if (!read_number(text, i, version_limit, line.minor_version)) return std::nullopt;
  if (i >= text.size() || text[i++] != ' ') return std::nullopt;
  unsigned status = 0;
  if (!read_number(text, i, 999, status) || status < 100 || status > 999) return std::nullopt;
  line.status = static_cast<int>(status);
  if (i >= text.size() || text[i++] != ' ') return std::nullopt;
  if (!read_value(text, i, line.reason) || i != text.size()) return std::nullopt;
  return line;
}

std::optional<response_headers> parse_header_block(std::string_view text) {
  response_headers headers;
  std::string name;
  std::string value;
  bool pending = false;
  const auto apply_length = [&](std::size_t length) {
    if (headers.has_content_length && length != headers.content_length)
      headers.conflicting_lengths = true;
    headers.has_content_length = true;
    headers.content_length = length;
  };
  // Codings of every Transfer-Encoding header apply in order: chunked counts when last.
  const auto apply_codings = [&] {
    headers.transfer_encoding = true;
    for_each_token(value, [&](const std::string& token) { headers.chunked = token == "chunked"; });
  };
  const auto apply = [&] {
    if (!pending) return;
    if (iequals(name, "Content-Type"))
      headers.content_type = value;
    else if (iequals(name, "Content-Length"))
      apply_length(parse_content_length(value));
    else if (iequals(name, "Location"))
      headers.location = value;
    else if (iequals(name, "Transfer-Encoding"))
      apply_codings();
    else if (iequals(name, "Connection"))
      for_each_token(value, [&](const std::string& token) {
        if (token == "close") headers.connection_close = true;
        if (token == "keep-alive") headers.connection_keep_alive = true;
      });
    pending = false;
  };

  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r') {
      if (text.substr(i, 2) != "\r\n" || i + 2 != text.size()) return std::nullopt;
      apply();
      return headers;
    }
    if (c == ' ' || c == '\t') {
      if (!pending) return std::nullopt;
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
      if (!read_value(text, i, value)) return std::nullopt;
      continue;
    }
    apply();
    const auto name_start = i;
    while (i < text.size() && is_token(text[i])) ++i;
    if (i == name_start || text.substr(i, 2) != ": ") return std::nullopt;
    name.assign(text.substr(name_start, i - name_start));
    i += 2;
    value.clear();
    if (!read_value(text, i, value)) return std::nullopt;
    pending = true;
  }
  return std::nullopt;
}

std::size_t parse_content_length(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  std::uint64_t number = 0;
  constexpr std::uint64_t limit = UINT64_MAX / 10 - 1;
  while (i < value.size() && is_digit(value[i])) {
    if (number < limit) number = number * 10 + static_cast<std::uint64_t>(value[i] - '0');
    ++i;
  }
  return static_cast<std::size_t>(negative ? 0 - number : number);
}

}  // namespace tamro::http
