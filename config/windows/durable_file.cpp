#include "config/durable_file.hpp"

#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <boost/system/error_code.hpp>
#include <cerrno>
#include <stdexcept>

#include "config/system_reason.hpp"

namespace tamro {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " " + path + ": " + system_reason());
}

// The access list of the file replaced, the operator's own entries and its protection from
// the folder's included, carries over; entries it inherited are taken afresh from the folder.
// Without a file there the new one keeps its folder's. A system error code, 0 for none.
DWORD copy_access_list(const std::string& replaced, const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  if (::GetNamedSecurityInfoA(replaced.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return 0;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor, &control, &revision);
  const SECURITY_INFORMATION what =
      DACL_SECURITY_INFORMATION |
      ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
  std::string target = path;
  const DWORD result =
      ::SetNamedSecurityInfoA(target.data(), SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
  ::LocalFree(descriptor);
  return result;
}

}  // namespace

void write_durable_file(const std::string& path, const std::string& text,
                        const std::string& replaced) {
  const int fd =
      ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) fail("cannot create", path);
  if (const DWORD error = copy_access_list(replaced, path)) {
    ::_close(fd);
    throw std::runtime_error("cannot set the access list of " + path + ": " +
                             boost::system::system_category().message(static_cast<int>(error)));
  }
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
