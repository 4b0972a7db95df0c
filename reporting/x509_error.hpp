#pragma once

#include <boost/system/error_code.hpp>
#include <string>

namespace tamro::https::error::x509 {

enum class cert_error {
  no_peer_certificate = 1,
  host_name_mismatch = 2,
};

// "X509 certificate error": what the client's own checks of the peer certificate found.
class cert_error_category : public boost::system::error_category {
 public:
  const char* name() const noexcept override;
  std::string message(int value) const override;
};

// "X509 certificate verification error": values are OpenSSL's X509_V_ERR_* codes.
class verify_error_category : public boost::system::error_category {
 public:
  const char* name() const noexcept override;
  std::string message(int value) const override;
};

const boost::system::error_category& cert_category();
const boost::system::error_category& verify_category();

boost::system::error_code make_error_code(cert_error value);
boost::system::error_code make_verify_error(int verify_result);

}  // namespace tamro::https::error::x509

namespace boost::system {
template <>
struct is_error_code_enum<tamro::https::error::x509::cert_error> : std::true_type {};
}  // namespace boost::system
