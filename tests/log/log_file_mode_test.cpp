// POSIX: the log holds the server's replies at debug level, so the files it creates are for
// the agent's user and group alone, whatever the umask.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/filesystem.hpp>
#include <boost/property_tree/ptree.hpp>
#include <ctime>

#include "log/sink.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro::log {
namespace {

unsigned mode_of(const std::string& path) {
  struct stat file {};
  return ::stat(path.c_str(), &file) == 0 ? file.st_mode & 07777 : 0;
}

// With no umask at all, the mode must come from the agent itself.
struct no_umask {
  mode_t before = ::umask(0);
  ~no_umask() { ::umask(before); }
};

TEST(LogFileMode, NewAndRotatedFilesAreGroupReadableOnlyAnOperatorsModeStays) {
  const no_umask open_umask;
  test::temp_dir dir;
  const std::string path = dir.file("tamro.log");
  boost::property_tree::ptree config;
  config.put("level", "info");
  config.put("rotate", true);
  config.put("file", path);
  {
    sink s;
    s.configure(config);
    s.write(info, "first");
  }
  EXPECT_EQ(mode_of(path), 0640u);

  // Written yesterday: the first line today moves it aside and starts a new file.
  boost::filesystem::last_write_time(path, std::time(nullptr) - 24 * 3600);
  {
    sink s;
    s.configure(config);
    s.write(info, "today");
  }
  const auto yesterday = boost::gregorian::day_clock::local_day() - boost::gregorian::days(1);
  const std::string rotated =
      dir.file("tamro." + boost::gregorian::to_iso_extended_string(yesterday) + ".log");
  EXPECT_EQ(mode_of(rotated), 0640u);
  EXPECT_EQ(mode_of(path), 0640u);

  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  {
    sink s;
    s.configure(config);
    s.write(info, "again");
  }
  EXPECT_EQ(mode_of(path), 0600u);
}

}  // namespace
}  // namespace tamro::log
