#include "reporting/system_trust_store.hpp"

namespace tamro {

// OpenSSL's own default paths are the distribution's trust store.
bool add_system_trust_store(SSL_CTX* context) {
  return SSL_CTX_set_default_verify_paths(context) == 1;
}

}  // namespace tamro
