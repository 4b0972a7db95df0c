#include "reporting/certificate_check.hpp"

#include <openssl/x509v3.h>
#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <map>
#include <memory>
#include <mutex>

#include "reporting/x509_error.hpp"

namespace tamro::https {
namespace {

constexpr std::size_t hosts_remembered = 64;

// Written where the exchange is refused and read where its failure is told: both on the
// I/O thread, but the lock costs nothing next to a refused handshake.
std::mutex refused_mutex;
std::map<std::string, std::vector<std::string>>& refused_names() {
  static auto* names = new std::map<std::string, std::vector<std::string>>;
  return *names;
}

std::string text_of(const ASN1_STRING* text) {
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                     static_cast<std::size_t>(ASN1_STRING_length(text)));
}

std::string address_text(const ASN1_OCTET_STRING* octets) {
  const unsigned char* bytes = ASN1_STRING_get0_data(octets);
  const int length = ASN1_STRING_length(octets);
  if (length == 4) {
    boost::asio::ip::address_v4::bytes_type v4;
    std::copy(bytes, bytes + 4, v4.begin());
    return boost::asio::ip::address_v4(v4).to_string();
  }
  if (length == 16) {
    boost::asio::ip::address_v6::bytes_type v6;
    std::copy(bytes, bytes + 16, v6.begin());
    return boost::asio::ip::address_v6(v6).to_string();
  }
  return "an address of " + std::to_string(length) + " bytes";
}

std::vector<std::string> subject_common_names(X509* certificate) {
  std::vector<std::string> names;
  X509_NAME* subject = X509_get_subject_name(certificate);
  if (!subject) return names;
  for (int i = X509_NAME_get_index_by_NID(subject, NID_commonName, -1); i >= 0;
       i = X509_NAME_get_index_by_NID(subject, NID_commonName, i)) {
    unsigned char* utf8 = nullptr;
    const int length =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, i)));
    if (length > 0) names.emplace_back(reinterpret_cast<const char*>(utf8), length);
    OPENSSL_free(utf8);
  }
  return names;
}

}  // namespace

bool is_ip_address(const std::string& host) {
  boost::system::error_code error;
  boost::asio::ip::make_address(host, error);
  return !error;
}

bool certificate_matches_host(X509* certificate, const std::string& host) {
  if (host.empty() || host.find('\0') != std::string::npos) return false;
  if (is_ip_address(host)) return X509_check_ip_asc(certificate, host.c_str(), 0) == 1;
  return X509_check_host(certificate, host.data(), host.size(),
                         X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr) == 1;
}

std::vector<std::string> certificate_names(X509* certificate) {
  std::vector<std::string> names;
  bool has_dns_name = false;
  std::unique_ptr<GENERAL_NAMES, void (*)(GENERAL_NAMES*)> alternatives(
      static_cast<GENERAL_NAMES*>(
          X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)),
      GENERAL_NAMES_free);
  for (int i = 0; alternatives && i < sk_GENERAL_NAME_num(alternatives.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives.get(), i);
    if (name->type == GEN_DNS) {
      has_dns_name = true;
      names.push_back(text_of(name->d.dNSName));
    } else if (name->type == GEN_IPADD) {
      names.push_back(address_text(name->d.iPAddress));
    }
  }
  // The matcher reads the common name only as a last resort, and so does this list.
  if (!has_dns_name) {
    const auto common = subject_common_names(certificate);
    names.insert(names.end(), common.begin(), common.end());
  }
  return names;
}

std::vector<std::string> names_of_refused_certificate(const std::string& host) {
  std::lock_guard<std::mutex> lock(refused_mutex);
  const auto found = refused_names().find(host);
  return found == refused_names().end() ? std::vector<std::string>() : found->second;
}

boost::system::error_code check_peer(SSL* ssl, const std::vector<int>& verify_errors,
                                     const std::string& host, const option_set& options) {
  using error::x509::cert_error;
  std::unique_ptr<X509, void (*)(X509*)> certificate(SSL_get1_peer_certificate(ssl), X509_free);
  if (!certificate) return error::x509::make_error_code(cert_error::no_peer_certificate);

  const auto& accepted = options.get<ignore_cert_errors>().value;
  const auto is_accepted = [&](int result) {
    return std::find(accepted.begin(), accepted.end(), result) != accepted.end();
  };
  for (int result : verify_errors)
    if (!is_accepted(result)) return error::x509::make_verify_error(result);
  const auto final_result = static_cast<int>(SSL_get_verify_result(ssl));
  if (final_result != X509_V_OK && !is_accepted(final_result))
    return error::x509::make_verify_error(final_result);

  if (options.get<ignore_cert_hostname>().value) return {};
  if (!certificate_matches_host(certificate.get(), host)) {
    std::lock_guard<std::mutex> lock(refused_mutex);
    auto& refused = refused_names();
    if (refused.size() >= hosts_remembered && !refused.count(host)) refused.clear();
    refused[host] = certificate_names(certificate.get());
    return error::x509::make_error_code(cert_error::host_name_mismatch);
  }
  return {};
}

}  // namespace tamro::https
