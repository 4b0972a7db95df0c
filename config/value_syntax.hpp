#pragma once

#include <optional>
#include <string_view>

namespace tamro {

// How the agent reads the few kinds of value that its files, the server's replies and the
// command line write as text. One reading each, wherever the value comes from.

// Digit groups joined by dots, with or without a leading dot (".1.3.6.1.2.1.1.5.0"): the
// only form an answer's values are keyed by.
bool is_numeric_oid(std::string_view text);

// A UDP or TCP port: one to five digits, at most 65535; none for any other text.
std::optional<unsigned> parse_port(std::string_view text);

// A whole number in decimal: an optional sign and digits, with blanks around it allowed (as
// the configuration reader has always taken them), however many digits.
bool is_whole_number(std::string_view text);
// Its value, when it lies from lowest to highest; none for any other text.
std::optional<long long> parse_integer(std::string_view text, long long lowest, long long highest);

}  // namespace tamro
