#include "reporting/post_failure.hpp"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>

#include "reporting/certificate_check.hpp"
#include "reporting/url.hpp"
#include "reporting/x509_error.hpp"

namespace tamro {
namespace {

constexpr std::size_t names_shown = 8;

// Turning the check off would let any server with any trusted certificate take the
// heartbeats: the way out is a name the certificate holds, or a certificate for the host.
std::string mismatch_hint(const std::string& host) {
  const auto names = https::names_of_refused_certificate(host);
  if (names.empty())
    return "the certificate does not name " + host +
           ": use a name it holds in server-uri, or give the server a certificate for " + host;
  std::string list;
  for (std::size_t i = 0; i < names.size() && i < names_shown; ++i)
    list += (i ? ", " : "") + names[i];
  if (names.size() > names_shown)
    list += " and " + std::to_string(names.size() - names_shown) + " more";
  return "the certificate is for " + list + ", not for " + host +
         ": use one of those names in server-uri, or give the server a certificate for " + host;
}

// server: the configured URL; reached: where the exchange went, which a redirect may have
// changed. The hint names the address that failed, and where it came from.
std::string hint(const url& server, const url& reached, const boost::system::error_code& error) {
  namespace asio_error = boost::asio::error;
  const std::string host = reached.host();
  const std::string address = host + ":" + std::to_string(reached.port());
  const bool redirected = reached.host() != server.host() || reached.port() != server.port() ||
                          reached.protocol() != server.protocol();
  const std::string source = redirected ? "the redirect from server-uri" : "server-uri";
  const bool https = reached.protocol() == "https";
  if (!https && reached.protocol() != "http") return "";
  if (error == asio_error::host_not_found || error == asio_error::host_not_found_try_again ||
      error == asio_error::no_data)
    return "the host name " + host + " of " + source + " does not resolve";
  if (error == asio_error::connection_refused)
    return "nothing listens on " + address + ": check the host and port of " + source;
  if (error == asio_error::timed_out) return address + " did not answer within agent/http-timeout";
  if (error == asio_error::eof || error == asio_error::connection_reset)
    return https ? address + " closed the connection without a reply"
                 : address +
                       " closed the connection without a reply: if it expects TLS, "
                       "server-uri must start with https://";
  if (error.category() == boost::asio::error::get_ssl_category() &&
      ERR_GET_REASON(static_cast<unsigned long>(error.value())) == SSL_R_WRONG_VERSION_NUMBER)
    return address +
           " does not answer in TLS: if it is a plain HTTP server, server-uri must "
           "start with http://";
  if (error.category() == https::error::x509::verify_category()) {
    switch (error.value()) {
      case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
      case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        return "put the certificate, or the authority that signed it, in agent/ca-file, or "
               "accept this error with agent/ignore-cert-errors/error-code " +
               std::to_string(error.value());
      default:
        return "accept this error with agent/ignore-cert-errors/error-code " +
               std::to_string(error.value()) + " if the certificate is to be trusted anyway";
    }
  }
  if (error ==
      https::error::x509::make_error_code(https::error::x509::cert_error::host_name_mismatch))
    return mismatch_hint(host);
  return "";
}

}  // namespace

std::string post_failure_text(const url& server, const url& reached,
                              const boost::system::error_code& error) {
  const std::string advice = hint(server, reached, error);
  return advice.empty() ? error.message() : error.message() + " (" + advice + ")";
}

}  // namespace tamro
