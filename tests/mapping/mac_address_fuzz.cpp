// libFuzzer target for the MAC address normaliser: what it accepts comes out as six
// upper-case hexadecimal pairs joined by ":", and what it refuses is left as it was.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mapping/mac_address.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string original(reinterpret_cast<const char*>(data), size);
  std::string text = original;
  if (!tamro::normalize_mac_address(text)) {
    if (text != original) std::abort();
    return 0;
  }
  if (text.size() != 17) std::abort();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool separator = i % 3 == 2;
    if (separator ? c != ':' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) std::abort();
  }
  return 0;
}
