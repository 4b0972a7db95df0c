#include "log/log_file.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace tamro::log {

void create_log_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0640);
  if (fd >= 0) ::close(fd);
}

}  // namespace tamro::log
