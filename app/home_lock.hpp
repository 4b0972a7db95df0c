#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tamro {

// One agent per home: two would poll every device and post every heartbeat twice. The
// running agent holds an exclusive lock on a file in the home's config folder, with its PID
// in it; the system drops the lock when the process ends, however it ends.
class home_lock {
 public:
  // Locks the file (created when missing) without waiting. Throws std::runtime_error
  // ("another TAMRO is running with this home (PID N)") when another process holds it. A file
  // that cannot be opened or locked is no reason not to run: held() is then false.
  explicit home_lock(const std::string& path);
  ~home_lock();
  home_lock(const home_lock&) = delete;
  home_lock& operator=(const home_lock&) = delete;

  bool held() const { return handle_ != no_handle; }
  // Why the lock is not held.
  const std::string& problem() const { return problem_; }

 private:
  static constexpr std::intptr_t no_handle = -1;
  std::intptr_t handle_ = no_handle;
  std::string problem_;
};

// The message for a lock that another process holds; pid is what its file says.
std::string another_agent_running(std::string pid);

// The lock of the home's config folder; nothing when the home has none (a run with -c and
// no installed home). A lock that could not be taken is said on standard error.
std::unique_ptr<home_lock> lock_home();

}  // namespace tamro
