#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tamro::http {

// Decodes a body sent with the chunked transfer coding, fed with bytes as they arrive: chunk
// sizes in hexadecimal with optional extensions, the chunk data, the last (empty) chunk and
// the trailer lines up to the empty line that ends the body. Extensions and trailers are
// checked for framing and skipped. No I/O, so that it can be tested and fuzzed from bytes.
class chunked_decoder {
 public:
  // Longest chunk-size line (with its extensions) and longest trailer section accepted.
  static constexpr std::size_t max_line = 4096;
  static constexpr std::size_t max_trailers = 64 * 1024;

  // Consumes bytes of input and writes body bytes to out, at most room of them; returns how
  // many input bytes it consumed and sets produced. Stops early when out is full, at the end
  // of the body, or at the first byte that breaks the framing.
  std::size_t decode(std::string_view input, char* out, std::size_t room, std::size_t& produced);

  bool done() const { return state_ == state::done; }
  bool failed() const { return state_ == state::failed; }

 private:
  enum class state {
    size,
    extension,
    size_line_end,
    data,
    data_cr,
    data_lf,
    trailer_start,
    trailer,
    trailer_lf,
    last_lf,
    done,
    failed,
  };

  state state_ = state::size;
  std::uint64_t remaining_ = 0;  // of the current chunk's data
  std::size_t digits_ = 0;
  std::size_t line_ = 0;      // bytes of the current size line
  std::size_t trailers_ = 0;  // bytes of the trailer section
};

}  // namespace tamro::http
