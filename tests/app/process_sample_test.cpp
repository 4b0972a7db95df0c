#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "app/metrics/process_sample.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro {
namespace {

TEST(ProcessSample, TellsWhatThisProcessHolds) {
  const process_sample before = sample_process();
  ASSERT_TRUE(before.cpu_seconds && before.resident_bytes && before.max_fds &&
              before.start_time_seconds);
  EXPECT_GT(*before.resident_bytes, 0u);
  EXPECT_GE(*sample_process().cpu_seconds, *before.cpu_seconds);
  // Started before now (the system may count from a boot time in whole seconds), and not
  // long before: this is a test run.
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_LE(*before.start_time_seconds, now + 1);
  EXPECT_GT(*before.start_time_seconds, now - 3600);

  // Linux always tells (the metrics run checks the page has it); wine does not.
  if (!before.open_fds) GTEST_SKIP() << "this system keeps no count of open handles";
  EXPECT_GE(*before.max_fds, *before.open_fds);
  test::temp_dir dir;
  {
    std::ofstream first(dir.file("a")), second(dir.file("b"));
    EXPECT_EQ(sample_process().open_fds, *before.open_fds + 2);
  }
  EXPECT_EQ(sample_process().open_fds, before.open_fds);
}

}  // namespace
}  // namespace tamro
