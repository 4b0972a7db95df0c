#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tamro::test {

// One accepted connection as the script sees it: blocking reads and writes, plain or TLS.
class server_peer {
 public:
  virtual ~server_peer() = default;
  // The request head and its Content-Length body, byte for byte ("" when the peer left).
  std::string read_request();
  virtual void send(const std::string& bytes) = 0;
  // Ends our side and waits until the client closes, so no reset loses unread bytes.
  virtual void finish() = 0;
  // Keeps the connection open, silent, until the client closes it.
  void wait_for_close();

  std::function<void(const std::string&)> on_request;

 protected:
  virtual std::size_t read_some(char* data, std::size_t size) = 0;  // 0 at end or error
  std::string pending_;
};

// A server on 127.0.0.1 (port chosen by the system) that runs a script for each
// connection, one at a time, on a thread of its own.
class test_server {
 public:
  using script = std::function<void(server_peer&, int connection_index)>;
  struct tls_identity {
    std::string certificate_chain_file;
    std::string private_key_file;
  };

  explicit test_server(script handle, std::optional<tls_identity> tls = std::nullopt);
  ~test_server();
  test_server(const test_server&) = delete;
  test_server& operator=(const test_server&) = delete;

  unsigned short port() const { return port_; }
  std::string url(const std::string& host = "127.0.0.1") const;
  int connections() const { return connections_; }
  std::vector<std::string> requests() const;
  // The server name indication each TLS client sent ("" when none).
  std::vector<std::string> server_names() const;
  // TLS connections whose handshake resumed an earlier session.
  int resumed_sessions() const { return resumed_sessions_; }

  // Answers every request with these bytes.
  static script reply(const std::string& response);

 private:
  void run();
  void record(std::vector<std::string>& list, const std::string& text);

  script handle_;
  boost::asio::io_context io_;
  boost::asio::ip::tcp::acceptor acceptor_;
  std::optional<boost::asio::ssl::context> tls_;
  unsigned short port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> active_fd_{-1};
  std::atomic<int> connections_{0};
  std::atomic<int> resumed_sessions_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<std::string> server_names_;
  std::thread thread_;
};

}  // namespace tamro::test
