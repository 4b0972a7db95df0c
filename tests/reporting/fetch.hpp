#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <memory>
#include <string>

#include "reporting/connection_pool.hpp"
#include "reporting/option_set.hpp"
#include "reporting/tls_client_context.hpp"

namespace tamro::test {

struct fetch_result {
  boost::system::error_code open_error;
  boost::system::error_code read_error;
  std::string body;
  std::size_t content_length = 0;
  std::string content_type;
  std::string location;
  std::string headers;
  bool retried = false;
  std::chrono::milliseconds elapsed{0};
};

// Opens the URL with a fresh url_stream and, after a successful open, reads the body the
// way the agent does: Content-Length bytes (a chunked body to its end) in reads of at most
// 64 KiB. Bounded by a 20-second run of its own io_context. https uses tls when given, else a
// context of the stream's own.
fetch_result fetch(const std::string& target, const option_set& options = {},
                   std::shared_ptr<tls_client_context> tls = {});

// The same exchange on io with connections kept in pool: the stream is released at the end,
// and io runs only until the exchange has ended (20 seconds at most).
fetch_result fetch_kept(boost::asio::io_context& io, std::shared_ptr<connection_pool> pool,
                        const std::string& target, const option_set& options,
                        std::shared_ptr<tls_client_context> tls = {});

}  // namespace tamro::test
