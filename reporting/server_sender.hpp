#pragma once

#include <boost/asio/io_context.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "reporting/heartbeat_sender.hpp"
#include "reporting/option_set.hpp"
#include "reporting/url.hpp"

namespace tamro {

class connection_pool;
class heartbeat_exchange;
class tls_client_context;
struct posting_settings;

// Posts heartbeats to the management server, one exchange each, with the settings of the
// last configuration load; with agent/persistent-connections, over connections it keeps open
// between posts (as many as agent/max-concurrent-posts).
class server_sender : public heartbeat_sender {
 public:
  explicit server_sender(boost::asio::io_context& io);

  // Puts a load's server, request options and trust in force for the posts that start from
  // now on; those in flight go on with what they started with. Kept connections are closed.
  void configure(const posting_settings& settings);
  const url& server() const { return server_; }

  void send(const std::string& agent_name, std::string heartbeat, completion done) override;
  std::size_t cancel_all() override;
  void close_kept_connections() override;
  // Keeps connections again once the drain that closed them is over.
  void keep_connections();

 private:
  boost::asio::io_context& io_;
  url server_;
  option_set options_;
  std::shared_ptr<tls_client_context> tls_;
  std::shared_ptr<connection_pool> pool_;  // null unless connections are kept
  std::uint64_t next_id_ = 0;
  std::map<std::uint64_t, std::weak_ptr<heartbeat_exchange>> in_flight_;
};

}  // namespace tamro
