#pragma once

#include <sys/types.h>
#include <boost/asio/detail/socket_types.hpp>  // SOCK_STREAM and SOCK_DGRAM on either system
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tamro::test {

// A program started by a test. Standard output and error go to files; the process is
// ended by its PID (SIGKILL) if the test did not wait for it. The Windows build runs under
// wine and starts Linux programs, which take the names child_path gives.
class child_process {
 public:
  // environment entries are added to (or replace) the test's own environment; an empty value
  // removes the variable.
  child_process(const std::vector<std::string>& argv, const std::string& output_file,
                const std::map<std::string, std::string>& environment = {});
  ~child_process();
  child_process(const child_process&) = delete;
  child_process& operator=(const child_process&) = delete;

  pid_t pid() const { return pid_; }
  // Signal numbers are Linux's.
  void signal(int number) const;
  // Ends the process with SIGKILL and waits until it is gone.
  void kill();
  // Exit code (or 128 + signal) once the process ended within the time, else nothing.
  std::optional<int> wait(std::chrono::milliseconds limit);
  bool running();
  std::string output() const;  // standard output and error so far

 private:
  pid_t pid_ = -1;
  std::string output_file_;
  std::optional<int> status_;
};

// The name under which a started program finds a file the test made.
std::string child_path(const std::string& path);

// Polls a condition every 20 ms until it holds or the time is up.
template <class Predicate>
bool wait_until(Predicate predicate, std::chrono::milliseconds limit);

// A port on 127.0.0.1 that nothing listens on at the moment (type SOCK_STREAM or SOCK_DGRAM).
unsigned short free_port(int type);

// Whether this host can bind ::1 (IPv6 may be turned off, as in some containers).
bool has_ipv6_loopback();

}  // namespace tamro::test

#include "tests/support/wait_until.ipp"
