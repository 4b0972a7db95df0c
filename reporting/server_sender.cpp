#include "reporting/server_sender.hpp"

#include "reporting/connection_pool.hpp"
#include "reporting/heartbeat_exchange.hpp"
#include "reporting/posting_settings.hpp"
#include "reporting/tls_client_context.hpp"

namespace tamro {

server_sender::server_sender(boost::asio::io_context& io)
    : io_(io), tls_(std::make_shared<tls_client_context>()) {}

void server_sender::configure(const posting_settings& settings) {
  server_ = settings.server;
  options_ = settings.options;
  // A reload may change the trust; the sessions kept under the old one are not resumed.
  tls_ = settings.tls ? settings.tls : std::make_shared<tls_client_context>();
  close_kept_connections();
  pool_ = settings.persistent_connections
              ? std::make_shared<connection_pool>(io_, settings.max_concurrent_posts,
                                                  settings.idle_timeout)
              : nullptr;
}

void server_sender::send(const std::string& agent_name, std::string heartbeat, completion done) {
  auto exchange =
      std::make_shared<heartbeat_exchange>(io_, tls_, pool_, server_, options_, agent_name);
  const std::uint64_t id = next_id_++;
  in_flight_.emplace(id, exchange);
  exchange->start(std::move(heartbeat), [this, id, done = std::move(done)](post_outcome outcome) {
    in_flight_.erase(id);
    done(std::move(outcome));
  });
}

void server_sender::close_kept_connections() {
  if (pool_) pool_->close_all();
}

void server_sender::keep_connections() {
  if (pool_) pool_->resume();
}

std::size_t server_sender::cancel_all() {
  close_kept_connections();
  std::size_t cancelled = 0;
  for (const auto& [id, held] : in_flight_) {
    if (const auto exchange = held.lock()) {
      exchange->cancel();
      ++cancelled;
    }
  }
  return cancelled;
}

}  // namespace tamro
