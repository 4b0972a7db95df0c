#include "reporting/server_sender.hpp"

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
}

void server_sender::send(const std::string& agent_name, std::string heartbeat, completion done) {
  auto exchange = std::make_shared<heartbeat_exchange>(io_, tls_, server_, options_, agent_name);
  const std::uint64_t id = next_id_++;
  in_flight_.emplace(id, exchange);
  exchange->start(std::move(heartbeat), [this, id, done = std::move(done)](post_outcome outcome) {
    in_flight_.erase(id);
    done(std::move(outcome));
  });
}

std::size_t server_sender::cancel_all() {
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
