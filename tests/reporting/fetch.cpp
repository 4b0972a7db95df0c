#include "tests/reporting/fetch.hpp"

#include <boost/asio/io_context.hpp>
#include <functional>
#include <limits>
#include <vector>

#include "reporting/url_stream.hpp"

namespace tamro::test {

fetch_result fetch(const std::string& target, const option_set& options,
                   std::shared_ptr<tls_client_context> tls) {
  boost::asio::io_context io;
  url_stream stream(io, std::move(tls));
  stream.options().set_options(options);
  fetch_result result;
  std::vector<char> chunk(65536);
  const auto start = std::chrono::steady_clock::now();

  std::function<void()> read_more = [&] {
    const auto wanted = result.content_length - result.body.size();
    if (wanted == 0) return stream.close();
    stream.read_some(boost::asio::buffer(chunk.data(), std::min(wanted, chunk.size())),
                     [&](boost::system::error_code error, std::size_t bytes) {
                       result.body.append(chunk.data(), bytes);
                       if (error) {
                         result.read_error = error;
                         return stream.close();
                       }
                       read_more();
                     });
  };
  stream.open(url::from_string(target), [&](boost::system::error_code error) {
    result.open_error = error;
    result.content_length = stream.content_length();
    result.content_type = stream.content_type();
    result.location = stream.location();
    result.headers = stream.headers();
    if (error) return stream.close();
    read_more();
  });
  io.run_for(std::chrono::seconds(20));
  result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  return result;
}

}  // namespace tamro::test
