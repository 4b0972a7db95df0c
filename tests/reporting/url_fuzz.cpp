// libFuzzer target for the URL parser: any text either parses or is refused with
// std::invalid_argument, and what parses prints and parses again to the same parts.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "reporting/url.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const auto parsed = tamro::url::from_string(text);
    const auto again = tamro::url::from_string(parsed.to_string());
    if (again.protocol() != parsed.protocol() || again.host() != parsed.host() ||
        again.port() != parsed.port() || again.path() != parsed.path())
      std::abort();
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
