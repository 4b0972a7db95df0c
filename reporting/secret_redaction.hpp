#pragma once

#include <string>
#include <string_view>

namespace tamro {

// The text with every value that opens a device to whoever reads it replaced by "***": the
// contents of community, auth-passphrase and privacy-passphrase elements, attributes of
// those names, and the user-info of URLs. Everything else is left exactly as it was, so a
// dump of a reply still reads as the reply did.
std::string redact_secrets(std::string_view text);

}  // namespace tamro
