#include "mapping/transformations/timeticks_to_seconds.hpp"

#include <cstdint>

namespace tamro::transformations {

const char* timeticks_to_seconds::name() const { return "timeticks-to-seconds"; }

void timeticks_to_seconds::transform(std::string& text) const {
  std::size_t at = 0;
  bool negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
    negative = text[at] == '-';
    ++at;
  }
  if (at == text.size()) return;

  std::uint64_t ticks = 0;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c < '0' || c > '9') return;
    ticks = ticks * 10 + static_cast<unsigned>(c - '0');
    if (ticks > UINT32_MAX) return;
  }
  auto value = static_cast<std::uint32_t>(ticks);
  if (negative) value = static_cast<std::uint32_t>(0) - value;
  text = std::to_string(value / 100);
}

}  // namespace tamro::transformations
