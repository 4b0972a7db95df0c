#include "reporting/https_stream.hpp"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <boost/asio/write.hpp>
#include <vector>

#include "reporting/certificate_check.hpp"

namespace tamro {

https_stream::https_stream(boost::asio::io_context& io, std::shared_ptr<tls_client_context> tls)
    : connection(io), tls_context_(std::move(tls)), socket_(io) {}

boost::system::error_code https_stream::prepare_transport(const option_set& options) {
  boost::system::error_code error;
  auto* context = tls_context_->context(options.get<https::ca_file>().value, error);
  if (error) return error;
  tls_ = std::make_shared<tls_stream>(socket_, *context);
  return {};
}

void https_stream::handshake(const url& target, const option_set& options, handler done) {
  auto verify_errors = std::make_shared<std::vector<int>>();
  tls_->set_verify_callback(
      [verify_errors](bool preverified, boost::asio::ssl::verify_context& context) {
        if (!preverified)
          verify_errors->push_back(X509_STORE_CTX_get_error(context.native_handle()));
        return true;
      });
  // Server name indication is for names only; IP literals must not be sent.
  if (!https::is_ip_address(target.host()))
    SSL_set_tlsext_host_name(tls_->native_handle(), target.host().c_str());
  tls_context_->prepare(tls_->native_handle(), target.host() + ":" + std::to_string(target.port()));

  auto self = std::static_pointer_cast<https_stream>(shared_from_this());
  tls_->async_handshake(boost::asio::ssl::stream_base::client,
                        [self, tls = tls_, verify_errors, host = target.host(), &options,
                         done = std::move(done)](boost::system::error_code error) {
                          if (error) return done(error);
                          error = https::check_peer(tls->native_handle(), *verify_errors, host,
                                                    options);
                          if (!error) self->tls_context_->peer_verified(tls->native_handle());
                          done(error);
                        });
}

void https_stream::write(boost::asio::const_buffer buffer, read_handler done) {
  boost::asio::async_write(
      *tls_, buffer,
      [self = shared_from_this(), tls = tls_, done = std::move(done)](
          boost::system::error_code error, std::size_t bytes) { done(error, bytes); });
}

void https_stream::read_some_bytes(boost::asio::mutable_buffer buffer, read_handler done) {
  tls_->async_read_some(
      buffer, [self = shared_from_this(), tls = tls_, done = std::move(done)](
                  boost::system::error_code error, std::size_t bytes) { done(error, bytes); });
}

void https_stream::release_transport(bool completed) {
  if (tls_ && completed) tls_client_context::completed(tls_->native_handle());
  tls_.reset();
}

}  // namespace tamro
