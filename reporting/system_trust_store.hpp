#pragma once

#include <openssl/ssl.h>

namespace tamro {

// Adds the operating system's trusted root certificates to the context's store. Returns
// false when the system has none to offer; the ca-file option may still supply some.
bool add_system_trust_store(SSL_CTX* context);

}  // namespace tamro
