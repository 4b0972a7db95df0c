#include "app/metrics/metrics_server.hpp"

#include "app/platform.hpp"

namespace tamro {

metrics_server::metrics_server(boost::asio::io_context& io, metrics_connection::responder respond)
    : respond_(std::move(respond)), acceptor_(io), retry_timer_(io) {}

metrics_server::~metrics_server() { close(); }

void metrics_server::open(const boost::asio::ip::tcp::endpoint& endpoint) {
  close();
  acceptor_.open(endpoint.protocol());
  try {
    platform::set_listener_options(acceptor_);
    acceptor_.bind(endpoint);
    acceptor_.listen();
  } catch (const boost::system::system_error&) {
    close();
    throw;
  }
  accept();
}

void metrics_server::close() {
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  retry_timer_.cancel();
  for (auto& [key, connection] : connections_) connection->close();
  connections_.clear();
}

void metrics_server::accept() {
  acceptor_.async_accept(
      [this](const boost::system::error_code& error, boost::asio::ip::tcp::socket socket) {
        if (error == boost::asio::error::operation_aborted || !acceptor_.is_open()) return;
        if (error) {
          // Out of descriptors, say: accepting again at once would only spin.
          retry_timer_.expires_after(std::chrono::seconds(1));
          retry_timer_.async_wait([this](const boost::system::error_code& cancelled) {
            if (!cancelled && acceptor_.is_open()) accept();
          });
          return;
        }
        // Beyond the bound a client is turned away at once rather than queued.
        if (connections_.size() < most_connections) {
          auto connection = std::make_shared<metrics_connection>(
              std::move(socket), respond_,
              [this](metrics_connection* done) { connections_.erase(done); });
          connections_.emplace(connection.get(), connection);
          connection->start();
        }
        accept();
      });
}

}  // namespace tamro
