// libFuzzer target for the response head parsers: no crash, no undefined behaviour, and
// what they accept keeps the properties the client relies on.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "reporting/chunked_decoder.hpp"
#include "reporting/response_parser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto line = tamro::http::parse_status_line(text)) {
    if (line->status < 100 || line->status > 999) std::abort();
    if (text.substr(text.size() - 2) != "\r\n") std::abort();
  }
  if (tamro::http::parse_header_block(text)) {
    if (text.size() < 2 || text.substr(text.size() - 2) != "\r\n") std::abort();
  }
  tamro::http::parse_content_length(text);
  // The decoder never writes past its room nor consumes past its input.
  tamro::http::chunked_decoder chunks;
  char out[7];
  std::size_t produced = 0;
  if (chunks.decode(text, out, sizeof out, produced) > text.size() || produced > sizeof out)
    std::abort();
  return 0;
}
