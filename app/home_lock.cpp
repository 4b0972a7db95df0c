#include "app/home_lock.hpp"

#include <boost/algorithm/string/trim.hpp>
#include <boost/filesystem/operations.hpp>

#include <iostream>

#include "app/paths.hpp"
#include "app/platform.hpp"
#include "log/sink.hpp"

namespace tamro {

std::string another_agent_running(std::string pid) {
  boost::algorithm::trim(pid);
  return "another TAMRO is running with this home (PID " + (pid.empty() ? "unknown" : pid) + ")";
}

std::unique_ptr<home_lock> lock_home() {
  const std::string folder = platform::home_path(home_directory(), "config");
  boost::system::error_code absent;
  if (!boost::filesystem::is_directory(folder, absent)) return nullptr;
  const std::string path = platform::home_path(home_directory(), "config/tamro.lock");
  auto lock = std::make_unique<home_lock>(path);
  // Before the log is open: the console (the journal, under systemd) is all there is.
  if (!lock->problem().empty())
    std::cerr << log::sink::global().console_prefix(log::warning) << "Warning: lock file " << path
              << ": " << lock->problem()
              << (lock->held() ? "" : "; a second agent with this home is not refused")
              << std::endl;
  return lock;
}

}  // namespace tamro
