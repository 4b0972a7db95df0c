#include "app/home_lock.hpp"

#include <windows.h>

#include <stdexcept>
#include <system_error>

namespace tamro {
namespace {

std::string last_error() {
  return std::error_code(static_cast<int>(::GetLastError()), std::system_category()).message();
}

// Windows locks are mandatory: the locked byte lies far beyond the PID, so that a second
// agent can still read who holds it.
OVERLAPPED locked_range() {
  OVERLAPPED at{};
  at.OffsetHigh = 1;
  return at;
}

std::string read_all(HANDLE file) {
  std::string text(64, '\0');
  OVERLAPPED start{};
  DWORD got = 0;
  if (!::ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, &start)) got = 0;
  text.resize(got);
  return text;
}

}  // namespace

home_lock::home_lock(const std::string& path) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    problem_ = last_error();
    return;
  }
  OVERLAPPED range = locked_range();
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
    const bool taken = ::GetLastError() == ERROR_LOCK_VIOLATION;
    problem_ = last_error();
    const std::string holder = taken ? read_all(file) : std::string();
    ::CloseHandle(file);
    if (taken) throw std::runtime_error(another_agent_running(holder));
    return;
  }
  const std::string pid = std::to_string(::GetCurrentProcessId()) + "\r\n";
  OVERLAPPED start{};
  DWORD written = 0;
  if (::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !::SetEndOfFile(file) ||
      !::WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &written, &start))
    problem_ = "the PID was not written: " + last_error();
  handle_ = reinterpret_cast<std::intptr_t>(file);
}

home_lock::~home_lock() {
  if (held()) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace tamro
