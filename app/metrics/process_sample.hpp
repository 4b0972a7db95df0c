#pragma once

#include <cstdint>
#include <optional>

namespace tamro {

// What the system tells about this process, for the standard process metrics; a value the
// system does not give is left out.
struct process_sample {
  std::optional<double> cpu_seconds;  // user and system time
  std::optional<std::uint64_t> resident_bytes;
  std::optional<std::uint64_t> open_fds;  // open handles on Windows
  std::optional<std::uint64_t> max_fds;
  std::optional<double> start_time_seconds;  // Unix time
};

// Each platform folder defines it.
process_sample sample_process();

}  // namespace tamro
