#include "config/durable_file.hpp"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <stdexcept>

#include "config/system_reason.hpp"

namespace tamro {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " " + path + ": " + system_reason());
}

}  // namespace

// Windows has no permission bits to carry over: a new file takes its folder's access list.
void write_durable_file(const std::string& path, const std::string& text,
                        const std::string& /*replaced*/) {
  const int fd =
      ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) fail("cannot create", path);
  for (std::size_t written = 0; written < text.size();) {
    const int bytes =
        ::_write(fd, text.data() + written, static_cast<unsigned>(text.size() - written));
    if (bytes <= 0) {
      const int error = errno;
      ::_close(fd);
      errno = error;
      fail("cannot write", path);
    }
    written += static_cast<std::size_t>(bytes);
  }
  const int committed = ::_commit(fd);
  const int error = errno;
  ::_close(fd);
  errno = error;
  if (committed != 0) fail("cannot write", path);
}

// NTFS journals the rename itself.
void sync_folder(const std::string& /*folder*/) {}

}  // namespace tamro
