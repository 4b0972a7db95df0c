#pragma once

#include <boost/system/error_code.hpp>

namespace tamro::netsnmp {

// Codes of the library's own errors (negative numbers); the message is the library's text.
enum error : int {
  bad_session = -4,  // no session
  aborted = -22,     // request cancelled, session closed or service stopped
  timed_out = -24,   // no answer within the time-out and retries
};

// Its messages are the library's texts, taken where the codes arise (under the library's
// lock, which a message may be formatted under, so message() never takes it).
const boost::system::error_category& error_category();

boost::system::error_code make_error_code(int code);

// With the library's lock held: the code, its text taken now with the detail the library
// holds for it (the host of an "Unknown host", the system's reason of a failed send).
boost::system::error_code library_error(int code);
// With the library's lock held: takes the texts of all the library's codes, once.
void keep_library_texts();

}  // namespace tamro::netsnmp
