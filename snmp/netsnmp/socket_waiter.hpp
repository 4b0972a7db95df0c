#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace tamro::netsnmp {

// Waits for any of many sockets to become readable, with no limit on their number or
// descriptor values. Also owns the interrupter that wakes a wait from another thread: the
// wait that an interrupt ends also consumes it, so the next wait sleeps again.
// One implementation per platform: epoll on Linux, WSAPoll on Windows.
class socket_waiter {
 public:
  socket_waiter();  // throws boost::system::system_error
  ~socket_waiter();
  socket_waiter(const socket_waiter&) = delete;
  socket_waiter& operator=(const socket_waiter&) = delete;

  // key identifies the socket in wait()'s results; it must not be 0. False when the system
  // refuses (out of memory or watch limit). Any thread, also during a wait.
  bool watch(int socket, std::uint64_t key);
  // Before the socket is closed. Any thread, also during a wait.
  void unwatch(int socket);

  // Any thread. Interrupts made before a wait, or during it, end that one wait.
  void interrupt();

  // Waits at most timeout_ms (negative: no limit), then replaces `ready` with the keys of
  // the readable sockets. An interrupt ends the wait but adds no key.
  void wait(int timeout_ms, std::vector<std::uint64_t>& ready);

  // Reads must never block the waiting thread, even on a stale readiness report.
  static void make_non_blocking(int socket);

 private:
  struct implementation;
  std::unique_ptr<implementation> impl_;
};

}  // namespace tamro::netsnmp
