#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "reporting/system_trust_store.hpp"

namespace {

// Without the system's ROOT store, no public server could be verified on Windows.
TEST(SystemTrustStore, LoadsTheRootCertificates) {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  ASSERT_NE(context, nullptr);
  EXPECT_TRUE(tamro::add_system_trust_store(context));
  EXPECT_GT(sk_X509_OBJECT_num(X509_STORE_get0_objects(SSL_CTX_get_cert_store(context))), 10);
  SSL_CTX_free(context);
}

}  // namespace
