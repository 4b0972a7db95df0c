#include "app/metrics/process_sample.hpp"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace tamro {
namespace {

// The fields of /proc/self/stat after the command name, which may itself hold blanks and
// parentheses: the first of them (the state) is field 3 of proc(5).
std::vector<std::string> stat_fields() {
  std::ifstream file("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const auto name_end = text.rfind(')');
  if (name_end == std::string::npos) return {};
  std::istringstream rest(text.substr(name_end + 1));
  std::vector<std::string> fields;
  for (std::string field; rest >> field;) fields.push_back(field);
  return fields;
}

std::optional<std::uint64_t> stat_number(const std::vector<std::string>& fields, std::size_t n) {
  const std::size_t index = n - 3;
  if (index >= fields.size()) return std::nullopt;
  try {
    return std::stoull(fields[index]);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<std::uint64_t> boot_time() {
  std::ifstream file("/proc/stat");
  for (std::string key; file >> key;) {
    if (key == "btime") {
      std::uint64_t seconds = 0;
      if (file >> seconds) return seconds;
      return std::nullopt;
    }
    file.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return std::nullopt;
}

std::optional<std::uint64_t> open_descriptors() {
  DIR* folder = opendir("/proc/self/fd");
  if (!folder) return std::nullopt;
  std::uint64_t count = 0;
  while (const dirent* entry = readdir(folder))
    if (entry->d_name[0] != '.') ++count;
  closedir(folder);
  return count > 0 ? count - 1 : 0;  // less the folder's own, open while it is read
}

}  // namespace

process_sample sample_process() {
  process_sample sample;
  const auto fields = stat_fields();
  const long ticks = sysconf(_SC_CLK_TCK);
  const auto user = stat_number(fields, 14);
  const auto system = stat_number(fields, 15);
  if (ticks > 0 && user && system)
    sample.cpu_seconds = static_cast<double>(*user + *system) / static_cast<double>(ticks);
  const auto started = stat_number(fields, 22);  // ticks after boot
  const auto booted = boot_time();
  if (ticks > 0 && started && booted)
    sample.start_time_seconds =
        static_cast<double>(*booted) + static_cast<double>(*started) / static_cast<double>(ticks);
  const long page = sysconf(_SC_PAGESIZE);
  if (const auto pages = stat_number(fields, 24); pages && page > 0)
    sample.resident_bytes = *pages * static_cast<std::uint64_t>(page);

  sample.open_fds = open_descriptors();
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    sample.max_fds = static_cast<std::uint64_t>(limit.rlim_cur);
  return sample;
}

}  // namespace tamro
