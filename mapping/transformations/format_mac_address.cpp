#include "mapping/transformations/format_mac_address.hpp"

#include "mapping/mac_address.hpp"

namespace tamro::transformations {

const char* format_mac_address::name() const { return "format-mac-address"; }

void format_mac_address::transform(std::string& text) const { normalize_mac_address(text); }

}  // namespace tamro::transformations
