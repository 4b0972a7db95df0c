#include "app/home_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "config/system_reason.hpp"

namespace tamro {
namespace {

std::string read_all(int fd) {
  std::string text;
  char buffer[64];
  ssize_t got;
  while ((got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0)
    text.append(buffer, static_cast<std::size_t>(got));
  return text;
}

}  // namespace

// flock, not fcntl: an fcntl lock would go with the first close of any descriptor of the
// file in this process.
home_lock::home_lock(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    problem_ = system_reason();
    return;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool taken = errno == EWOULDBLOCK;
    problem_ = system_reason();
    const std::string holder = taken ? read_all(fd) : std::string();
    ::close(fd);
    if (taken) throw std::runtime_error(another_agent_running(holder));
    return;
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 ||
      ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
    problem_ = "the PID was not written: " + system_reason();
  handle_ = fd;
}

home_lock::~home_lock() {
  if (held()) ::close(static_cast<int>(handle_));
}

}  // namespace tamro
