#include "reporting/http_error.hpp"

namespace tamro::http {
namespace {

const char* reason_phrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Payload Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return nullptr;
  }
}

}  // namespace

const char* error_category::name() const noexcept { return "http"; }

std::string error_category::message(int value) const {
  switch (static_cast<error>(value)) {
    case error::malformed_status_line:
      return "malformed HTTP status line";
    case error::malformed_response_headers:
      return "malformed HTTP response headers";
    case error::too_many_redirects:
      return "too many HTTP redirects";
    case error::bad_redirect_location:
      return "HTTP redirect without a usable location (an absolute http or https URL, never "
             "from https to http)";
    case error::response_headers_too_large:
      return "HTTP response headers too large";
    case error::response_body_too_large:
      return "HTTP response body too large";
    case error::malformed_chunked_body:
      return "malformed HTTP chunked response body";
  }
  std::string text = "HTTP status " + std::to_string(value);
  if (const char* reason = reason_phrase(value)) text += std::string(" (") + reason + ")";
  return text;
}

const boost::system::error_category& http_category() {
  static const error_category instance;
  return instance;
}

boost::system::error_code make_error_code(error value) {
  return {static_cast<int>(value), http_category()};
}

boost::system::error_code make_status_error(int status) { return {status, http_category()}; }

}  // namespace tamro::http
