#include "config/durable_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "config/system_reason.hpp"

namespace tamro {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " " + path + ": " + system_reason());
}

}  // namespace

void write_durable_file(const std::string& path, const std::string& text,
                        const std::string& replaced) {
  struct stat old {};
  const bool replacing = ::stat(replaced.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) fail("cannot create", path);
  const auto close_and_fail = [&](const char* what) {
    const int error = errno;
    ::close(fd);
    errno = error;
    fail(what, path);
  };
  if (replacing && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
    // Only root may give a file away; anyone else keeps what the system allows.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM) {
      close_and_fail("cannot set the owner of");
    }
  }
  // Explicitly, as the umask may have taken bits away at creation (and after the owner, as a
  // change of owner may clear the set-id bits).
  const mode_t mode = replacing ? old.st_mode & 07777 : S_IRUSR | S_IWUSR;
  if (::fchmod(fd, mode) != 0) close_and_fail("cannot set the permissions of");
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t bytes = ::write(fd, text.data() + written, text.size() - written);
    if (bytes < 0 && errno == EINTR) continue;
    if (bytes <= 0) close_and_fail("cannot write");
    written += static_cast<std::size_t>(bytes);
  }
  if (::fsync(fd) != 0) close_and_fail("cannot write");
  if (::close(fd) != 0) fail("cannot write", path);
}

void sync_folder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) fail("cannot open", folder);
  const int synced = ::fsync(fd);
  const int error = errno;
  ::close(fd);
  errno = error;
  if (synced != 0) fail("cannot write", folder);
}

}  // namespace tamro
