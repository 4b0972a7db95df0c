#include "reporting/x509_error.hpp"

#include <openssl/x509.h>

namespace tamro::https::error::x509 {

const char* cert_error_category::name() const noexcept { return "X509 certificate error"; }

std::string cert_error_category::message(int value) const {
  switch (static_cast<cert_error>(value)) {
    case cert_error::no_peer_certificate:
      return "no certificate was presented by the peer";
    case cert_error::host_name_mismatch:
      return "certificate host name mismatch";
  }
  return "unknown certificate error";
}

const char* verify_error_category::name() const noexcept {
  return "X509 certificate verification error";
}

std::string verify_error_category::message(int value) const {
  return "certificate verification error " + std::to_string(value) + ": " +
         X509_verify_cert_error_string(value);
}

const boost::system::error_category& cert_category() {
  static const cert_error_category instance;
  return instance;
}

const boost::system::error_category& verify_category() {
  static const verify_error_category instance;
  return instance;
}

boost::system::error_code make_error_code(cert_error value) {
  return {static_cast<int>(value), cert_category()};
}

boost::system::error_code make_verify_error(int verify_result) {
  return {verify_result, verify_category()};
}

}  // namespace tamro::https::error::x509
