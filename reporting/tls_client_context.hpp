#pragma once

#include <openssl/ssl.h>
#include <boost/asio/ssl/context.hpp>
#include <boost/system/error_code.hpp>
#include <map>
#include <memory>
#include <string>

namespace tamro {

// The TLS client side that every https exchange of one configuration load shares: one
// context, whose trust store is loaded once, on first use, and the latest verified session
// of each server, so that a later exchange with that server resumes it (an abbreviated
// handshake) instead of negotiating from scratch. Used on the I/O thread only.
class tls_client_context : public std::enable_shared_from_this<tls_client_context> {
 public:
  tls_client_context() = default;
  ~tls_client_context();
  tls_client_context(const tls_client_context&) = delete;
  tls_client_context& operator=(const tls_client_context&) = delete;

  // The context, built on first use with the system's trust store and, when ca_file is not
  // empty, that file; a different ca_file builds a new one. Null with error set when the
  // file cannot be loaded.
  boost::asio::ssl::context* context(const std::string& ca_file, boost::system::error_code& error);

  // Before the handshake: offers the session kept for server ("host:port"), if any.
  void prepare(SSL* ssl, const std::string& server);
  // After the peer passed every check: its session (and the tickets that follow on this
  // connection) may be kept for the next exchange with the same server.
  void peer_verified(SSL* ssl);
  // Before a connection is dropped without close_notify: an exchange that completed keeps
  // its session resumable (the library spoils sessions of connections it thinks were cut).
  static void completed(SSL* ssl);

  std::size_t kept_sessions() const { return sessions_.size(); }

 private:
  struct connection_note;

  static int on_new_session(SSL* ssl, SSL_SESSION* session);
  static int note_index();
  void keep(const std::string& server, SSL_SESSION* session);
  void forget_sessions();

  std::unique_ptr<boost::asio::ssl::context> context_;
  std::string ca_file_;
  std::map<std::string, SSL_SESSION*> sessions_;
};

}  // namespace tamro
