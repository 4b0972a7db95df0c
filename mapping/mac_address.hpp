#pragma once

#include <string>

namespace tamro {

// Rewrites a MAC address as six upper-case hexadecimal pairs joined by ":" and returns true.
// Accepted: six raw bytes, or six hexadecimal pairs where each pair after the first may be
// preceded by one of ":", ".", " " or "-". Anything else returns false, text untouched.
bool normalize_mac_address(std::string& text);

}  // namespace tamro
