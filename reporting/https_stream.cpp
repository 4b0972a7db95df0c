#include "reporting/https_stream.hpp"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <boost/asio/write.hpp>
#include <vector>

#include "reporting/certificate_check.hpp"

namespace tamro {

https_stream::https_stream(boost::asio::io_context& io)
    : connection(io),
      context_(boost::asio::ssl::context::tls_client),
      tls_(std::make_shared<tls_stream>(io, context_)) {
  context_.set_verify_mode(boost::asio::ssl::verify_peer);
  boost::system::error_code ignored;
  context_.set_default_verify_paths(ignored);
}

boost::system::error_code https_stream::prepare_transport(const option_set& options) {
  const auto ca_file = options.get<https::ca_file>().value;
  if (!ca_file.empty() && ca_file != loaded_ca_file_) {
    boost::system::error_code error;
    context_.load_verify_file(ca_file, error);
    if (error) return error;
    loaded_ca_file_ = ca_file;
  }
  tls_ = std::make_shared<tls_stream>(io(), context_);
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

  auto tls = tls_;
  tls->async_handshake(
      boost::asio::ssl::stream_base::client,
      [tls, verify_errors, host = target.host(), options,
       done = std::move(done)](boost::system::error_code error) {
        if (error) return done(error);
        done(https::check_peer(tls->native_handle(), *verify_errors, host, options));
      });
}

void https_stream::write(boost::asio::const_buffer buffer, read_handler done) {
  auto tls = tls_;
  boost::asio::async_write(
      *tls, buffer,
      [tls, done = std::move(done)](boost::system::error_code error, std::size_t bytes) {
        done(error, bytes);
      });
}

void https_stream::read_some_bytes(boost::asio::mutable_buffer buffer, read_handler done) {
  auto tls = tls_;
  tls->async_read_some(
      buffer, [tls, done = std::move(done)](boost::system::error_code error, std::size_t bytes) {
        done(error, bytes);
      });
}

}  // namespace tamro
