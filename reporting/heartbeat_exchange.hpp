#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "reporting/heartbeat_sender.hpp"
#include "reporting/option_set.hpp"
#include "reporting/url.hpp"
#include "reporting/url_stream.hpp"

namespace tamro {

class connection_pool;
class tls_client_context;

// One heartbeat post to the management server: connects (or takes a connection kept in the
// pool), sends, reads the reply head and its body, and reports how it ended, once. Owns its
// stream (whose time-out is agent/http-timeout) and the reply bytes; its pending handlers keep
// it alive.
class heartbeat_exchange : public std::enable_shared_from_this<heartbeat_exchange> {
 public:
  heartbeat_exchange(boost::asio::io_context& io, std::shared_ptr<tls_client_context> tls,
                     std::shared_ptr<connection_pool> pool, url server, const option_set& options,
                     std::string agent_name);
  heartbeat_exchange(const heartbeat_exchange&) = delete;
  heartbeat_exchange& operator=(const heartbeat_exchange&) = delete;

  void start(std::string heartbeat, heartbeat_sender::completion done);
  // Ends the exchange at once; its completion reports it dropped.
  void cancel();

 private:
  void opened(const boost::system::error_code& error);
  void read_body();
  void delivered();
  void ended_empty();
  void received(const boost::system::error_code& error, std::size_t bytes);
  void failed(std::string reason, bool timed_out);
  void finish(post_outcome outcome);

  url server_;
  std::string agent_name_;
  url_stream stream_;
  std::string reply_;
  std::size_t announced_ = 0;
  bool chunked_ = false;
  heartbeat_sender::completion done_;
  std::chrono::steady_clock::time_point started_;
  bool cancelled_ = false;
};

}  // namespace tamro
