#include "reporting/certificate_check.hpp"

#include <openssl/x509v3.h>
#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <cstring>
#include <memory>
#include <optional>

#include "reporting/x509_error.hpp"

namespace tamro::https {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool name_equals(const unsigned char* data, int length, const std::string& host) {
  if (!data || length <= 0 || static_cast<std::size_t>(length) != host.size()) return false;
  const auto* text = reinterpret_cast<const char*>(data);
  if (std::memchr(text, 0, host.size())) return false;
  for (std::size_t i = 0; i < host.size(); ++i)
    if (lower(text[i]) != lower(host[i])) return false;
  return true;
}

// Whether a subject-alternative name matches; none when the certificate has no DNS or IP
// names at all.
std::optional<bool> san_matches(X509* certificate, const std::string& host,
                                const boost::asio::ip::address* address) {
  std::unique_ptr<GENERAL_NAMES, void (*)(GENERAL_NAMES*)> names(
      static_cast<GENERAL_NAMES*>(
          X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)),
      GENERAL_NAMES_free);
  if (!names) return std::nullopt;

  std::vector<unsigned char> address_bytes;
  if (address && address->is_v4()) {
    const auto bytes = address->to_v4().to_bytes();
    address_bytes.assign(bytes.begin(), bytes.end());
  } else if (address) {
    const auto bytes = address->to_v6().to_bytes();
    address_bytes.assign(bytes.begin(), bytes.end());
  }

  bool has_names = false;
  for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
    has_names = has_names || name->type == GEN_DNS || name->type == GEN_IPADD;
    if (!address && name->type == GEN_DNS) {
      const ASN1_IA5STRING* text = name->d.dNSName;
      if (text && ASN1_STRING_type(text) == V_ASN1_IA5STRING &&
          name_equals(ASN1_STRING_get0_data(text), ASN1_STRING_length(text), host))
        return true;
    } else if (address && name->type == GEN_IPADD) {
      const ASN1_OCTET_STRING* octets = name->d.iPAddress;
      if (octets && static_cast<std::size_t>(ASN1_STRING_length(octets)) == address_bytes.size() &&
          std::equal(address_bytes.begin(), address_bytes.end(), ASN1_STRING_get0_data(octets)))
        return true;
    }
  }
  if (!has_names) return std::nullopt;
  return false;
}

bool common_name_matches(X509* certificate, const std::string& host) {
  X509_NAME* subject = X509_get_subject_name(certificate);
  if (!subject) return false;
  for (int i = X509_NAME_get_index_by_NID(subject, NID_commonName, -1); i >= 0;
       i = X509_NAME_get_index_by_NID(subject, NID_commonName, i)) {
    ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, i));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, data);
    const bool match = length > 0 && name_equals(utf8, length, host);
    OPENSSL_free(utf8);
    if (match) return true;
  }
  return false;
}

}  // namespace

bool is_ip_address(const std::string& host) {
  boost::system::error_code error;
  boost::asio::ip::make_address(host, error);
  return !error;
}

bool certificate_matches_host(X509* certificate, const std::string& host) {
  boost::system::error_code error;
  const auto address = boost::asio::ip::make_address(host, error);
  // A certificate that names its hosts in subject-alternative names is held to them: its
  // common name is not a further name (as browsers and RFC 6125 have it).
  if (const auto matched = san_matches(certificate, host, error ? nullptr : &address))
    return *matched;
  return common_name_matches(certificate, host);
}

boost::system::error_code check_peer(SSL* ssl, const std::vector<int>& verify_errors,
                                     const std::string& host, const option_set& options) {
  using error::x509::cert_error;
  std::unique_ptr<X509, void (*)(X509*)> certificate(SSL_get1_peer_certificate(ssl), X509_free);
  if (!certificate) return error::x509::make_error_code(cert_error::no_peer_certificate);

  const auto accepted = options.get<ignore_cert_errors>().value;
  const auto is_accepted = [&](int result) {
    return std::find(accepted.begin(), accepted.end(), result) != accepted.end();
  };
  for (int result : verify_errors)
    if (!is_accepted(result)) return error::x509::make_verify_error(result);
  const auto final_result = static_cast<int>(SSL_get_verify_result(ssl));
  if (final_result != X509_V_OK && !is_accepted(final_result))
    return error::x509::make_verify_error(final_result);

  if (options.get<ignore_cert_hostname>().value) return {};
  if (!certificate_matches_host(certificate.get(), host))
    return error::x509::make_error_code(cert_error::host_name_mismatch);
  return {};
}

}  // namespace tamro::https
