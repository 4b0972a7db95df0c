#include "tests/support/open_files.hpp"

#include <sys/resource.h>
#include <algorithm>

namespace tamro::test {

bool allow_open_files(int count) {
  const auto wanted = static_cast<rlim_t>(count);
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = std::max(limit.rlim_cur, std::min(limit.rlim_max, wanted));
  ::setrlimit(RLIMIT_NOFILE, &limit);
  return limit.rlim_cur >= wanted;
}

}  // namespace tamro::test
