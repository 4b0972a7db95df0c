#include <winsock2.h>
#include <ws2tcpip.h>

#include <boost/system/system_error.hpp>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "snmp/netsnmp/socket_waiter.hpp"

namespace tamro::netsnmp {
namespace {

constexpr std::uint64_t unwatched = 0;

[[noreturn]] void throw_socket_error(const char* what) {
  throw boost::system::system_error(::WSAGetLastError(), boost::system::system_category(), what);
}

}  // namespace

// WSAPoll takes any number of sockets (WaitForMultipleObjects stops at 64). Its array
// belongs to the waiting thread; other threads queue their watch changes and wake the wait,
// which applies them before it polls again. The interrupter is a loopback UDP socket that
// sends to itself: WSAPoll waits on sockets only.
struct socket_waiter::implementation {
  SOCKET interrupter = INVALID_SOCKET;

  std::mutex mutex;
  std::vector<std::pair<SOCKET, std::uint64_t>> changes;  // key `unwatched`: remove
  bool wake_pending = false;

  // The waiting thread's: polled[0] is the interrupter; keys[i] belongs to polled[i].
  std::vector<WSAPOLLFD> polled;
  std::vector<std::uint64_t> keys;
  std::unordered_map<SOCKET, std::size_t> index;

  void apply_changes();
  void add(SOCKET socket, std::uint64_t key);
  void remove(SOCKET socket);
  void drain_interrupter() const;
};

socket_waiter::socket_waiter() : impl_(std::make_unique<implementation>()) {
  WSADATA data;
  const int started = ::WSAStartup(MAKEWORD(2, 2), &data);
  if (started != 0) {
    throw boost::system::system_error(started, boost::system::system_category(), "WSAStartup");
  }
  SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  u_long on = 1;
  if (s == INVALID_SOCKET ||
      ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::ioctlsocket(s, FIONBIO, &on) != 0) {
    const int saved = ::WSAGetLastError();
    if (s != INVALID_SOCKET) ::closesocket(s);
    ::WSACleanup();
    ::WSASetLastError(saved);
    throw_socket_error("socket waiter interrupter");
  }
  impl_->interrupter = s;
  impl_->add(s, unwatched);
}

socket_waiter::~socket_waiter() {
  ::closesocket(impl_->interrupter);
  ::WSACleanup();
}

bool socket_waiter::watch(int socket, std::uint64_t key) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->changes.emplace_back(static_cast<SOCKET>(socket), key);
    wake = !std::exchange(impl_->wake_pending, true);
  }
  if (wake) interrupt();
  return true;
}

void socket_waiter::unwatch(int socket) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  // The wait need not wake: a closed socket left in its array reports at worst a key the
  // reactor no longer knows, and the change is applied before the next poll.
  impl_->changes.emplace_back(static_cast<SOCKET>(socket), unwatched);
}

void socket_waiter::interrupt() {
  const char byte = 0;
  // A full buffer still leaves the interrupter readable.
  ::send(impl_->interrupter, &byte, 1, 0);
}

void socket_waiter::wait(int timeout_ms, std::vector<std::uint64_t>& ready) {
  ready.clear();
  impl_->apply_changes();
  auto& polled = impl_->polled;
  const int count =
      ::WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), timeout_ms < 0 ? -1 : timeout_ms);
  if (count <= 0) return;
  // Drained here, or the interrupter would stay readable and every poll return at once.
  if (polled[0].revents != 0) impl_->drain_interrupter();
  for (std::size_t i = 1; i < polled.size(); ++i) {
    const auto events = polled[i].revents;
    if (events == 0) continue;
    if ((events & POLLNVAL) != 0) {
      impl_->remove(polled[i].fd);  // closed without unwatch: drop it
      --i;                          // the last entry moved here
    } else {
      ready.push_back(impl_->keys[i]);  // errors too: the library's read reports them
    }
  }
}

void socket_waiter::make_non_blocking(int socket) {
  u_long on = 1;
  ::ioctlsocket(static_cast<SOCKET>(socket), FIONBIO, &on);
}

void socket_waiter::implementation::apply_changes() {
  std::vector<std::pair<SOCKET, std::uint64_t>> taken;
  {
    std::lock_guard<std::mutex> lock(mutex);
    taken.swap(changes);
    wake_pending = false;
  }
  for (const auto& [socket, key] : taken) {
    if (key == unwatched) {
      remove(socket);
    } else {
      add(socket, key);
    }
  }
}

void socket_waiter::implementation::add(SOCKET socket, std::uint64_t key) {
  const auto found = index.find(socket);
  if (found != index.end()) {
    // A socket value is reused once the library closed a session: replace the record.
    keys[found->second] = key;
    return;
  }
  WSAPOLLFD entry{};
  entry.fd = socket;
  entry.events = POLLRDNORM;
  index.emplace(socket, polled.size());
  polled.push_back(entry);
  keys.push_back(key);
}

void socket_waiter::implementation::remove(SOCKET socket) {
  const auto found = index.find(socket);
  if (found == index.end() || found->second == 0) return;  // never the interrupter
  const std::size_t at = found->second;
  index.erase(found);
  if (at + 1 != polled.size()) {
    polled[at] = polled.back();
    keys[at] = keys.back();
    index[polled[at].fd] = at;
  }
  polled.pop_back();
  keys.pop_back();
}

void socket_waiter::implementation::drain_interrupter() const {
  char buffer[64];
  while (::recv(interrupter, buffer, sizeof buffer, 0) > 0) {
  }
}

}  // namespace tamro::netsnmp
