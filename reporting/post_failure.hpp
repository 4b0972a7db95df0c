#pragma once

#include <boost/system/error_code.hpp>
#include <string>

namespace tamro {

class url;

// The message of an error that ended an exchange before the reply came, with what an
// operator needs to fix it: the host that was not found, the scheme that does not match the
// server, the setting that accepts a certificate. server is the configured URL, reached the
// one the exchange went to last (the target of a redirect); the hint names reached.
std::string post_failure_text(const url& server, const url& reached,
                              const boost::system::error_code& error);

}  // namespace tamro
