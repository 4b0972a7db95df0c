#pragma once

#include <boost/system/error_code.hpp>
#include <string>

namespace tamro::http {

// Values below 100 are the client's own failures; 100 and above are response status codes.
enum class error {
  malformed_status_line = 1,
  malformed_response_headers = 2,
  too_many_redirects = 3,
  bad_redirect_location = 4,
  response_headers_too_large = 5,
  response_body_too_large = 6,
  malformed_chunked_body = 7,
};

class error_category : public boost::system::error_category {
 public:
  const char* name() const noexcept override;
  std::string message(int value) const override;
};

const boost::system::error_category& http_category();

boost::system::error_code make_error_code(error value);
// The error that reports a response status other than 200.
boost::system::error_code make_status_error(int status);

}  // namespace tamro::http

namespace boost::system {
template <>
struct is_error_code_enum<tamro::http::error> : std::true_type {};
}  // namespace boost::system
