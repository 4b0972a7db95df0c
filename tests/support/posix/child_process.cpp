#include "tests/support/child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <stdexcept>

namespace tamro::test {
namespace {

int exit_code(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

child_process::child_process(const std::vector<std::string>& argv, const std::string& output_file,
                             const std::map<std::string, std::string>& environment)
    : output_file_(output_file) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int fd = ::open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      ::close(fd);
    }
    const int null_in = ::open("/dev/null", O_RDONLY);
    if (null_in >= 0) ::dup2(null_in, 0);
    for (const auto& [name, value] : environment) {
      if (value.empty()) {
        ::unsetenv(name.c_str());
      } else {
        ::setenv(name.c_str(), value.c_str(), 1);
      }
    }
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
}

child_process::~child_process() { kill(); }

void child_process::kill() {
  if (status_ || pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  if (::waitpid(pid_, &status, 0) == pid_) status_ = exit_code(status);
}

void child_process::signal(int number) const {
  if (!status_ && pid_ > 0) ::kill(pid_, number);
}

std::optional<int> child_process::wait(std::chrono::milliseconds limit) {
  wait_until(
      [this] {
        if (status_) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
          status_ = exit_code(status);
        }
        return status_.has_value();
      },
      limit);
  return status_;
}

std::string child_path(const std::string& path) { return path; }

}  // namespace tamro::test
