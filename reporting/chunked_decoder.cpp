#include "reporting/chunked_decoder.hpp"

#include <algorithm>
#include <cstring>

namespace tamro::http {
namespace {

// 15 hexadecimal digits keep a size far from overflow; no body of ours comes near it.
constexpr std::size_t max_size_digits = 15;

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_control(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte < 32 && c != '\t') || byte == 127;
}

}  // namespace

std::size_t chunked_decoder::decode(std::string_view input, char* out, std::size_t room,
                                    std::size_t& produced) {
  produced = 0;
  std::size_t i = 0;
  const auto fail = [&] {
    state_ = state::failed;
    return i;
  };
  while (i < input.size()) {
    const char c = input[i];
    switch (state_) {
      case state::size:
        if (const int digit = hex_value(c); digit >= 0) {
          if (++digits_ > max_size_digits) return fail();
          remaining_ = remaining_ * 16 + static_cast<unsigned>(digit);
        } else if (digits_ == 0) {
          return fail();
        } else if (c == ';' || c == ' ' || c == '\t') {
          state_ = state::extension;
        } else if (c == '\r') {
          state_ = state::size_line_end;
        } else {
          return fail();
        }
        break;
      case state::extension:
        if (c == '\r')
          state_ = state::size_line_end;
        else if (is_control(c))
          return fail();
        break;
      case state::size_line_end:
        if (c != '\n') return fail();
        state_ = remaining_ == 0 ? state::trailer_start : state::data;
        break;
      case state::data: {
        const auto take = static_cast<std::size_t>(
            std::min<std::uint64_t>(remaining_, std::min(input.size() - i, room - produced)));
        if (take == 0) return i;  // out is full
        std::memcpy(out + produced, input.data() + i, take);
        produced += take;
        remaining_ -= take;
        i += take;
        if (remaining_ == 0) state_ = state::data_cr;
        continue;
      }
      case state::data_cr:
        if (c != '\r') return fail();
        state_ = state::data_lf;
        break;
      case state::data_lf:
        if (c != '\n') return fail();
        state_ = state::size;
        digits_ = 0;
        line_ = 0;
        break;
      case state::trailer_start:
        state_ = c == '\r' ? state::last_lf : state::trailer;
        if (c != '\r' && is_control(c)) return fail();
        break;
      case state::trailer:
        if (c == '\r')
          state_ = state::trailer_lf;
        else if (is_control(c))
          return fail();
        break;
      case state::trailer_lf:
        if (c != '\n') return fail();
        state_ = state::trailer_start;
        break;
      case state::last_lf:
        if (c != '\n') return fail();
        state_ = state::done;
        return i + 1;
      case state::done:
      case state::failed:
        return i;
    }
    ++i;
    if (state_ == state::size || state_ == state::extension || state_ == state::size_line_end) {
      if (++line_ > max_line) return fail();
    } else if (state_ >= state::trailer_start && state_ <= state::last_lf) {
      if (++trailers_ > max_trailers) return fail();
    }
  }
  return i;
}

}  // namespace tamro::http
