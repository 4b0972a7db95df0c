#include "reporting/system_trust_store.hpp"

#include <windows.h>
// wincrypt.h needs windows.h first.
#include <wincrypt.h>

#include <openssl/err.h>
#include <openssl/x509.h>

namespace tamro {

// OpenSSL's default paths name a folder of the build machine, which does not exist on
// Windows: the trusted roots live in the system's "ROOT" certificate store.
bool add_system_trust_store(SSL_CTX* context) {
  HCERTSTORE store = ::CertOpenSystemStoreA(0, "ROOT");
  if (store == nullptr) return false;
  X509_STORE* trusted = SSL_CTX_get_cert_store(context);
  bool added = false;
  const CERT_CONTEXT* certificate = nullptr;
  while ((certificate = ::CertEnumCertificatesInStore(store, certificate)) != nullptr) {
    const unsigned char* der = certificate->pbCertEncoded;
    X509* parsed = d2i_X509(nullptr, &der, static_cast<long>(certificate->cbCertEncoded));
    if (parsed == nullptr) continue;  // one the library cannot read is simply not trusted
    // A duplicate is refused with an error on the queue, and is harmless.
    if (X509_STORE_add_cert(trusted, parsed) == 1) added = true;
    X509_free(parsed);
  }
  ERR_clear_error();
  ::CertCloseStore(store, 0);
  return added;
}

}  // namespace tamro
