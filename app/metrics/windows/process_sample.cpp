#include "app/metrics/process_sample.hpp"

#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>

namespace tamro {
namespace {

constexpr double filetime_units_per_second = 1e7;  // 100 ns
// From 1601-01-01, where FILETIME counts from, to 1970-01-01.
constexpr std::uint64_t unix_epoch_in_filetime = 116444736000000000ULL;
// The kernel's fixed limit of handles per process.
constexpr std::uint64_t most_handles = 16777216;

std::uint64_t units(const FILETIME& time) {
  return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

}  // namespace

process_sample sample_process() {
  process_sample sample;
  const HANDLE self = GetCurrentProcess();
  FILETIME created, exited, kernel, user;
  if (GetProcessTimes(self, &created, &exited, &kernel, &user)) {
    sample.cpu_seconds =
        static_cast<double>(units(kernel) + units(user)) / filetime_units_per_second;
    if (units(created) > unix_epoch_in_filetime)
      sample.start_time_seconds =
          static_cast<double>(units(created) - unix_epoch_in_filetime) / filetime_units_per_second;
  }
  PROCESS_MEMORY_COUNTERS memory{};
  if (GetProcessMemoryInfo(self, &memory, sizeof memory))
    sample.resident_bytes = memory.WorkingSetSize;
  // A running process always holds handles: none means the system keeps no count (wine).
  DWORD handles = 0;
  if (GetProcessHandleCount(self, &handles) && handles > 0) sample.open_fds = handles;
  sample.max_fds = most_handles;
  return sample;
}

}  // namespace tamro
