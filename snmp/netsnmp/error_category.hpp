#pragma once

#include <boost/system/error_code.hpp>

namespace tamro::netsnmp {

// Codes of the library's own errors (negative numbers); the message is the library's text.
enum error : int {
  bad_session = -4,  // no session
  aborted = -22,     // request cancelled, session closed or service stopped
  timed_out = -24,   // no answer within the time-out and retries
};

const boost::system::error_category& error_category();

boost::system::error_code make_error_code(int code);

}  // namespace tamro::netsnmp
