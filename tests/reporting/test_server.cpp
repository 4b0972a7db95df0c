#include "tests/reporting/test_server.hpp"

#include <sys/socket.h>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/write.hpp>
#include <cstdlib>

namespace tamro::test {
namespace {

using boost::asio::ip::tcp;

std::size_t request_body_length(const std::string& head) {
  std::string lower = head;
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto at = lower.find("\r\ncontent-length: ");
  return at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 18, nullptr, 10);
}

class plain_peer : public server_peer {
 public:
  explicit plain_peer(tcp::socket& socket) : socket_(socket) {}
  void send(const std::string& bytes) override {
    boost::system::error_code ignored;
    boost::asio::write(socket_, boost::asio::buffer(bytes), ignored);
  }
  void finish() override {
    boost::system::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    char sink[4096];
    while (read_some(sink, sizeof sink) > 0) {
    }
  }

 protected:
  std::size_t read_some(char* data, std::size_t size) override {
    boost::system::error_code error;
    return socket_.read_some(boost::asio::buffer(data, size), error);
  }

 private:
  tcp::socket& socket_;
};

class tls_peer : public server_peer {
 public:
  explicit tls_peer(boost::asio::ssl::stream<tcp::socket&>& stream) : stream_(stream) {}
  void send(const std::string& bytes) override {
    boost::system::error_code ignored;
    boost::asio::write(stream_, boost::asio::buffer(bytes), ignored);
  }
  void finish() override {
    boost::system::error_code ignored;
    stream_.next_layer().shutdown(tcp::socket::shutdown_send, ignored);
    char sink[4096];
    while (read_some(sink, sizeof sink) > 0) {
    }
  }

 protected:
  std::size_t read_some(char* data, std::size_t size) override {
    boost::system::error_code error;
    return stream_.read_some(boost::asio::buffer(data, size), error);
  }

 private:
  boost::asio::ssl::stream<tcp::socket&>& stream_;
};

}  // namespace

std::string server_peer::read_request() {
  char chunk[4096];
  std::size_t head_end;
  while ((head_end = pending_.find("\r\n\r\n")) == std::string::npos) {
    const auto bytes = read_some(chunk, sizeof chunk);
    if (bytes == 0) return "";
    pending_.append(chunk, bytes);
  }
  const auto total = head_end + 4 + request_body_length(pending_.substr(0, head_end + 2));
  while (pending_.size() < total) {
    const auto bytes = read_some(chunk, sizeof chunk);
    if (bytes == 0) break;
    pending_.append(chunk, bytes);
  }
  auto request = pending_.substr(0, total);
  pending_.erase(0, total);
  if (on_request) on_request(request);
  return request;
}

void server_peer::wait_for_close() {
  char sink[4096];
  while (read_some(sink, sizeof sink) > 0) {
  }
}

test_server::test_server(script handle, std::optional<tls_identity> tls)
    : handle_(std::move(handle)),
      acceptor_(io_, tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0)) {
  port_ = acceptor_.local_endpoint().port();
  if (tls) {
    tls_.emplace(boost::asio::ssl::context::tls_server);
    tls_->use_certificate_chain_file(tls->certificate_chain_file);
    tls_->use_private_key_file(tls->private_key_file, boost::asio::ssl::context::pem);
  }
  thread_ = std::thread([this] { run(); });
}

test_server::~test_server() {
  stopping_ = true;
  const int fd = active_fd_;
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
  // Wake the blocked accept with a connection of our own.
  boost::system::error_code ignored;
  tcp::socket wake(io_);
  wake.connect(acceptor_.local_endpoint(), ignored);
  thread_.join();
}

std::string test_server::url(const std::string& host) const {
  return "http" + std::string(tls_ ? "s" : "") + "://" + host + ":" + std::to_string(port_);
}

std::vector<std::string> test_server::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<std::string> test_server::server_names() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return server_names_;
}

void test_server::record(std::vector<std::string>& list, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  list.push_back(text);
}

void test_server::run() {
  for (int index = 0;; ++index) {
    tcp::socket socket(io_);
    boost::system::error_code error;
    acceptor_.accept(socket, error);
    if (stopping_ || error) return;
    ++connections_;
    active_fd_ = socket.native_handle();
    if (stopping_) return;
    if (tls_) {
      boost::asio::ssl::stream<tcp::socket&> stream(socket, *tls_);
      stream.handshake(boost::asio::ssl::stream_base::server, error);
      const char* name = SSL_get_servername(stream.native_handle(), TLSEXT_NAMETYPE_host_name);
      record(server_names_, name ? name : "");
      if (!error && SSL_session_reused(stream.native_handle())) ++resumed_sessions_;
      if (!error) {
        tls_peer peer(stream);
        peer.on_request = [this](const std::string& request) { record(requests_, request); };
        handle_(peer, index);
      }
    } else {
      plain_peer peer(socket);
      peer.on_request = [this](const std::string& request) { record(requests_, request); };
      handle_(peer, index);
    }
    active_fd_ = -1;
  }
}

test_server::script test_server::reply(const std::string& response) {
  return [response](server_peer& peer, int) {
    if (peer.read_request().empty()) return;
    peer.send(response);
    peer.finish();
  };
}

}  // namespace tamro::test
