#include "tests/reporting/fetch.hpp"

#include <boost/asio/error.hpp>
#include <functional>
#include <limits>
#include <vector>

#include "reporting/url_stream.hpp"

namespace tamro::test {
namespace {

// One exchange: open, then the body read the way the agent reads it; ended runs once it is
// over, with the stream still open or kept. The handlers in flight keep it alive.
class fetcher : public std::enable_shared_from_this<fetcher> {
 public:
  fetcher(url_stream& stream, fetch_result& result, std::function<void()> ended)
      : stream_(stream), result_(result), ended_(std::move(ended)) {}

  void start(const std::string& target) {
    stream_.open(url::from_string(target), [self = shared_from_this()](error_code error) {
      auto& result = self->result_;
      result.open_error = error;
      result.content_length = self->stream_.content_length();
      result.content_type = self->stream_.content_type();
      result.location = self->stream_.location();
      result.headers = self->stream_.headers();
      result.retried = self->stream_.retried();
      if (error) return self->finish();
      self->read_more();
    });
  }

 private:
  using error_code = boost::system::error_code;

  void read_more() {
    const auto wanted =
        stream_.chunked() ? chunk_.size() : result_.content_length - result_.body.size();
    if (wanted == 0) return finish();
    stream_.read_some(boost::asio::buffer(chunk_.data(), std::min(wanted, chunk_.size())),
                      [self = shared_from_this()](error_code error, std::size_t bytes) {
                        self->result_.body.append(self->chunk_.data(), bytes);
                        if (error == boost::asio::error::eof && self->stream_.chunked() &&
                            self->stream_.body_complete())
                          return self->finish();
                        if (error) {
                          self->result_.read_error = error;
                          return self->finish();
                        }
                        self->read_more();
                      });
  }

  void finish() {
    result_.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start_);
    ended_();
  }

  url_stream& stream_;
  fetch_result& result_;
  std::function<void()> ended_;
  std::vector<char> chunk_ = std::vector<char>(65536);
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

void start_fetch(url_stream& stream, const std::string& target, fetch_result& result,
                 std::function<void()> ended) {
  std::make_shared<fetcher>(stream, result, std::move(ended))->start(target);
}

}  // namespace

fetch_result fetch(const std::string& target, const option_set& options,
                   std::shared_ptr<tls_client_context> tls) {
  boost::asio::io_context io;
  url_stream stream(io, std::move(tls));
  stream.options().set_options(options);
  fetch_result result;
  start_fetch(stream, target, result, [&stream] { stream.close(); });
  io.run_for(std::chrono::seconds(20));
  return result;
}

fetch_result fetch_kept(boost::asio::io_context& io, std::shared_ptr<connection_pool> pool,
                        const std::string& target, const option_set& options,
                        std::shared_ptr<tls_client_context> tls) {
  url_stream stream(io, std::move(tls), std::move(pool));
  stream.options().set_options(options);
  fetch_result result;
  bool ended = false;
  start_fetch(stream, target, result, [&] {
    stream.release();
    ended = true;
  });
  io.restart();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!ended && std::chrono::steady_clock::now() < deadline)
    io.run_one_for(std::chrono::milliseconds(100));
  return result;
}

}  // namespace tamro::test
