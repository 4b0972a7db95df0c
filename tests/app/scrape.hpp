#pragma once

#include <string>

namespace tamro::test {

// The whole answer, headers and body, to one request sent as it is to HOST:PORT; empty when
// nothing listens.
std::string send_raw(unsigned short port, const std::string& request,
                     const std::string& host = "127.0.0.1");

// The answer to "GET path".
std::string get(unsigned short port, const std::string& path,
                const std::string& host = "127.0.0.1");

// The body of a whole answer.
std::string body(const std::string& answer);

}  // namespace tamro::test
