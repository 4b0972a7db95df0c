#include "reporting/url.hpp"

#include <algorithm>
#include <stdexcept>

#include "config/value_syntax.hpp"

namespace tamro {
namespace {

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Blanks and control bytes would end up verbatim in the request line.
bool is_unsafe(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte <= 32 || byte == 127;
}

// The text of a URL that did not parse, for a message: what may be a password or a token
// is masked.
std::string masked(std::string text) {
  const auto query = text.find('?');
  if (query != std::string::npos) text.replace(query + 1, std::string::npos, "***");
  const auto authority = text.find("//");
  if (authority == std::string::npos) return text;
  const auto begin = authority + 2;
  const auto at = text.substr(0, text.find_first_of("/?#", begin)).rfind('@');
  if (at != std::string::npos && at > begin) text.replace(begin, at - begin, "***");
  return text;
}

[[noreturn]] void fail(const std::string& text, const char* why) {
  throw std::invalid_argument("invalid URL \"" + masked(text) + "\": " + why);
}

}  // namespace

url url::from_string(const std::string& text) {
  if (std::any_of(text.begin(), text.end(), is_unsafe)) fail(text, "blank or control character");

  url result;
  const auto colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || !is_alpha(text[0])) fail(text, "no scheme");
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = text[i];
    if (!is_alpha(c) && !is_digit(c) && c != '+' && c != '-' && c != '.') fail(text, "no scheme");
  }
  result.protocol_ = text.substr(0, colon);

  std::size_t pos = colon + 1;
  if (text.compare(pos, 2, "//") == 0) {
    result.has_authority_ = true;
    pos += 2;
    const auto end = text.find_first_of("/?#", pos);
    std::string authority = text.substr(pos, end == std::string::npos ? end : end - pos);
    pos = end == std::string::npos ? text.size() : end;

    const auto at = authority.rfind('@');
    if (at != std::string::npos) {
      result.user_info_ = authority.substr(0, at);
      authority.erase(0, at + 1);
    }
    std::string port;
    if (!authority.empty() && authority[0] == '[') {
      const auto close = authority.find(']');
      if (close == std::string::npos) fail(text, "unterminated IPv6 address");
      result.host_ = authority.substr(1, close - 1);
      result.host_is_ipv6_ = true;
      if (result.host_.empty() ||
          result.host_.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
        fail(text, "bad IPv6 address");
      const auto rest = authority.substr(close + 1);
      if (!rest.empty()) {
        if (rest[0] != ':') fail(text, "garbage after IPv6 address");
        port = rest.substr(1);
      }
    } else {
      const auto port_colon = authority.find(':');
      result.host_ = authority.substr(0, port_colon);
      if (port_colon != std::string::npos) port = authority.substr(port_colon + 1);
      if (result.host_.find_first_of("[]\\\"<>{}|^`") != std::string::npos) fail(text, "bad host");
    }
    if (!port.empty()) {
      if (!parse_port(port)) fail(text, "bad port");
      result.port_ = port;
    }
  }

  const auto query = text.find('?', pos);
  const auto fragment = text.find('#', pos);
  const auto path_end = std::min(query, fragment);
  result.path_ = text.substr(pos, path_end == std::string::npos ? path_end : path_end - pos);
  if (query != std::string::npos && query < fragment) {
    result.has_query_ = true;
    result.query_ =
        text.substr(query + 1, fragment == std::string::npos ? fragment : fragment - query - 1);
  }
  if (fragment != std::string::npos) {
    result.has_fragment_ = true;
    result.fragment_ = text.substr(fragment + 1);
  }
  return result;
}

std::uint16_t url::port() const {
  if (!port_.empty()) return static_cast<std::uint16_t>(std::stoul(port_));
  if (protocol_ == "http") return 80;
  if (protocol_ == "https") return 443;
  return 0;
}

std::string url::to_string(int components) const {
  std::string text;
  if (components & protocol_component) {
    text += protocol_ + ":";
    if (has_authority_ && (components & host_component)) text += "//";
  }
  if ((components & user_info_component) && !user_info_.empty()) text += user_info_ + "@";
  if (components & host_component) text += host_is_ipv6_ ? "[" + host_ + "]" : host_;
  if ((components & port_component) && !port_.empty()) text += ":" + port_;
  if (components & path_component) text += path_;
  if ((components & query_component) && has_query_) text += "?" + query_;
  if ((components & fragment_component) && has_fragment_) text += "#" + fragment_;
  return text;
}

std::string url::display_text() const {
  return to_string(protocol_component | host_component | port_component | path_component);
}

}  // namespace tamro
