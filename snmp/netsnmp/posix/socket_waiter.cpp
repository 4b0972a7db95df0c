#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <boost/system/system_error.hpp>
#include <cerrno>

#include "snmp/netsnmp/socket_waiter.hpp"

namespace tamro::netsnmp {
namespace {

constexpr int max_events = 512;  // a larger backlog is picked up by the next wait
constexpr std::uint64_t interrupter_key = 0;

[[noreturn]] void throw_errno(const char* what) {
  throw boost::system::system_error(errno, boost::system::system_category(), what);
}

}  // namespace

// A wake-up costs in proportion to the ready sockets, not the watched ones.
struct socket_waiter::implementation {
  int poller = -1;
  int interrupter = -1;
  epoll_event events[max_events];
};

socket_waiter::socket_waiter() : impl_(std::make_unique<implementation>()) {
  impl_->poller = ::epoll_create1(EPOLL_CLOEXEC);
  if (impl_->poller < 0) throw_errno("epoll_create1");
  impl_->interrupter = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (impl_->interrupter < 0) {
    const int saved = errno;
    ::close(impl_->poller);
    errno = saved;
    throw_errno("eventfd");
  }
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = interrupter_key;
  if (::epoll_ctl(impl_->poller, EPOLL_CTL_ADD, impl_->interrupter, &event) != 0) {
    const int saved = errno;
    ::close(impl_->interrupter);
    ::close(impl_->poller);
    errno = saved;
    throw_errno("epoll_ctl");
  }
}

socket_waiter::~socket_waiter() {
  ::close(impl_->interrupter);
  ::close(impl_->poller);
}

bool socket_waiter::watch(int socket, std::uint64_t key) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = key;
  if (::epoll_ctl(impl_->poller, EPOLL_CTL_ADD, socket, &event) == 0) return true;
  // A descriptor number is reused once the library closed a session: replace the record.
  return errno == EEXIST && ::epoll_ctl(impl_->poller, EPOLL_CTL_MOD, socket, &event) == 0;
}

void socket_waiter::unwatch(int) {
  // Closing the descriptor ends the watch: nothing to do.
}

void socket_waiter::interrupt() {
  const std::uint64_t one = 1;
  // A full counter (EAGAIN) still leaves the interrupter readable.
  [[maybe_unused]] const auto written = ::write(impl_->interrupter, &one, sizeof one);
}

void socket_waiter::wait(int timeout_ms, std::vector<std::uint64_t>& ready) {
  ready.clear();
  auto* events = impl_->events;
  const int count =
      ::epoll_wait(impl_->poller, events, max_events, timeout_ms < 0 ? -1 : timeout_ms);
  for (int i = 0; i < count; ++i) {
    if (events[i].data.u64 != interrupter_key) {
      ready.push_back(events[i].data.u64);
    } else {
      // The eventfd is level-triggered: left unread, every later wait would return at once.
      std::uint64_t interrupts = 0;
      [[maybe_unused]] const auto read = ::read(impl_->interrupter, &interrupts, sizeof interrupts);
    }
  }
}

void socket_waiter::make_non_blocking(int socket) {
  int on = 1;
  ::ioctl(socket, FIONBIO, &on);  // one system call, other flags untouched
}

}  // namespace tamro::netsnmp
