#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Pure parsers of an HTTP response head, fed with bytes; no I/O and no dependencies, so
// that they can be fuzzed on their own.
namespace tamro::http {

struct status_line {
  unsigned major_version = 0;
  unsigned minor_version = 0;
  int status = 0;
  std::string reason;
};

// Parses "HTTP/" major "." minor " " status " " reason CR LF, which must be the whole text.
// Status codes outside 100..999 are refused: they could pass for success or for the
// client's own error values.
std::optional<status_line> parse_status_line(std::string_view text);

struct response_headers {
  std::string content_type;
  std::size_t content_length = 0;
  std::string location;
  // What tells where the body ends, and whether the connection may carry another request.
  bool has_content_length = false;
  bool conflicting_lengths = false;  // Content-Length headers that disagree
  bool transfer_encoding = false;    // any Transfer-Encoding header
  bool chunked = false;              // the last transfer coding is chunked
  bool connection_close = false;     // Connection: close
  bool connection_keep_alive = false;
};

// Parses a header block: header lines ("name: value" CR LF, continuation lines starting
// with a blank or tab) up to and including the empty line, which must end the text.
// Content-Type, Content-Length and Location are kept (the last of each wins, names are
// compared ignoring case), Transfer-Encoding and Connection are read as token lists; other
// headers are checked and ignored.
std::optional<response_headers> parse_header_block(std::string_view text);

// The leading decimal integer of a Content-Length value, read as atoi reads it: leading
// blanks and a sign are accepted, no digits give 0, a negative value wraps around.
std::size_t parse_content_length(std::string_view value);

}  // namespace tamro::http
