#include "reporting/tls_client_context.hpp"

#include "reporting/system_trust_store.hpp"

namespace tamro {

// What the library's callbacks need to know about one connection; lives as long as its SSL.
struct tls_client_context::connection_note {
  std::weak_ptr<tls_client_context> owner;
  std::string server;
  bool verified = false;
};

tls_client_context::~tls_client_context() { forget_sessions(); }

boost::asio::ssl::context* tls_client_context::context(const std::string& ca_file,
                                                       boost::system::error_code& error) {
  error = {};
  if (context_ && ca_file == ca_file_) return context_.get();
  auto built = std::make_unique<boost::asio::ssl::context>(boost::asio::ssl::context::tls_client);
  built->set_verify_mode(boost::asio::ssl::verify_peer);
  add_system_trust_store(built->native_handle());  // a host without one still has ca_file
  if (!ca_file.empty()) {
    built->load_verify_file(ca_file, error);
    if (error) return nullptr;
  }
  SSL_CTX* native = built->native_handle();
  // Sessions are kept by this object, per server, rather than in the library's cache.
  SSL_CTX_set_session_cache_mode(native, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(native, &tls_client_context::on_new_session);
  forget_sessions();  // made under the trust of the previous context
  context_ = std::move(built);
  ca_file_ = ca_file;
  return context_.get();
}

void tls_client_context::prepare(SSL* ssl, const std::string& server) {
  auto* note = new connection_note{weak_from_this(), server, false};
  SSL_set_ex_data(ssl, note_index(), note);
  const auto kept = sessions_.find(server);
  if (kept != sessions_.end()) SSL_set_session(ssl, kept->second);
}

void tls_client_context::peer_verified(SSL* ssl) {
  auto* note = static_cast<connection_note*>(SSL_get_ex_data(ssl, note_index()));
  if (note == nullptr) return;
  note->verified = true;
  // TLS 1.2 sessions exist from the handshake on; TLS 1.3 ones arrive later as tickets.
  SSL_SESSION* session = SSL_get1_session(ssl);
  if (session != nullptr && SSL_SESSION_is_resumable(session)) {
    keep(note->server, session);
  } else if (session != nullptr) {
    SSL_SESSION_free(session);
  }
}

void tls_client_context::completed(SSL* ssl) {
  SSL_set_shutdown(ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
}

int tls_client_context::on_new_session(SSL* ssl, SSL_SESSION* session) {
  auto* note = static_cast<connection_note*>(SSL_get_ex_data(ssl, note_index()));
  if (note == nullptr || !note->verified) return 0;  // not ours to trust (yet)
  const auto owner = note->owner.lock();
  if (!owner) return 0;
  owner->keep(note->server, session);
  return 1;  // the reference is ours now
}

int tls_client_context::note_index() {
  static const int index = SSL_get_ex_new_index(
      0, nullptr, nullptr, nullptr, [](void*, void* note, CRYPTO_EX_DATA*, int, long, void*) {
        delete static_cast<connection_note*>(note);
      });
  return index;
}

void tls_client_context::keep(const std::string& server, SSL_SESSION* session) {
  auto& slot = sessions_[server];
  if (slot == session) {
    SSL_SESSION_free(session);  // already held: drop the extra reference
    return;
  }
  if (slot != nullptr) SSL_SESSION_free(slot);
  slot = session;
}

void tls_client_context::forget_sessions() {
  for (auto& entry : sessions_) SSL_SESSION_free(entry.second);
  sessions_.clear();
}

}  // namespace tamro
