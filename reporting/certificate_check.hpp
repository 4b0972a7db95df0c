#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <boost/system/error_code.hpp>
#include <string>
#include <vector>

#include "reporting/option_set.hpp"

namespace tamro::https {

// True for IPv4 dotted and IPv6 texts.
bool is_ip_address(const std::string& host);

// Whether the certificate names the host, by the library's own matcher: a host name against
// the DNS names (one wildcard, as the whole left-most label; the subject's common name
// only when there is no DNS name), an IP address against the IP address names alone.
bool certificate_matches_host(X509* certificate, const std::string& host);

// The host names and addresses the certificate is for, as the matcher reads them.
std::vector<std::string> certificate_names(X509* certificate);

// The names of the certificate that the last refused exchange with this host presented, for
// the operator's hint; empty when none was refused.
std::vector<std::string> names_of_refused_certificate(const std::string& host);

// The checks after a completed handshake: a peer certificate is present, every recorded
// verification failure is listed in https::ignore_cert_errors, and the certificate names
// the host unless https::ignore_cert_hostname is set.
boost::system::error_code check_peer(SSL* ssl, const std::vector<int>& verify_errors,
                                     const std::string& host, const option_set& options);

}  // namespace tamro::https
