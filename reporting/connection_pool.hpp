#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tamro {

class connection;
class url;

// Connections that the server keeps open after an exchange, waiting for the next request to
// the same server: at most limit of them, each closed after idle_timeout unused, or as soon
// as the server closes it. Used on the I/O thread only.
class connection_pool : public std::enable_shared_from_this<connection_pool> {
 public:
  connection_pool(boost::asio::io_context& io, std::size_t limit,
                  std::chrono::steady_clock::duration idle_timeout);
  ~connection_pool();
  connection_pool(const connection_pool&) = delete;
  connection_pool& operator=(const connection_pool&) = delete;

  // The most recently kept connection to the target's scheme, host and port, out of the pool;
  // null when there is none.
  std::shared_ptr<connection> take(const url& target);
  // Keeps a connection whose exchange ended, if it is reusable and there is room; closes it
  // otherwise.
  void keep(std::shared_ptr<connection> used);
  // Closes every kept connection and keeps none until resume(): nothing may hold the I/O
  // loop once a reload or a stop waits for the posts in flight.
  void close_all();
  void resume() { keeping_ = true; }

  std::size_t idle() const { return idle_.size(); }

 private:
  struct kept {
    std::uint64_t id;
    std::shared_ptr<connection> link;
    std::unique_ptr<boost::asio::steady_timer> timer;
  };

  void forget(std::uint64_t id, bool close);

  boost::asio::io_context& io_;
  std::size_t limit_;
  std::chrono::steady_clock::duration idle_timeout_;
  bool keeping_ = true;
  std::uint64_t next_id_ = 0;
  std::vector<kept> idle_;  // oldest first
};

}  // namespace tamro
