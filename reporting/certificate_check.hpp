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

// Matches the host against the subject-alternative names (DNS names for a host name, IP
// addresses for an address) or, only when the certificate has no such names, against the
// subject's common names. Names compare ignoring ASCII case, in full: a name with an
// embedded zero byte never matches, and wildcards are not interpreted.
bool certificate_matches_host(X509* certificate, const std::string& host);

// The checks after a completed handshake: a peer certificate is present, every recorded
// verification failure is listed in https::ignore_cert_errors, and the certificate names
// the host unless https::ignore_cert_hostname is set.
boost::system::error_code check_peer(SSL* ssl, const std::vector<int>& verify_errors,
                                     const std::string& host, const option_set& options);

}  // namespace tamro::https
