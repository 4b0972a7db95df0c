#include <gtest/gtest.h>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/filesystem.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/regex.hpp>
#include <sstream>
#include <thread>
#include <vector>

#include "log/sink.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro::log {
namespace {

boost::property_tree::ptree section(const std::string& level) {
  boost::property_tree::ptree s;
  if (!level.empty()) s.put("level", level);
  s.put("console", "true");
  return s;
}

struct console_sink {
  std::stringstream out;
  sink s;
  console_sink() { s.set_console_stream(out.rdbuf()); }
};

TEST(LogLine, HasLocalTimeThreadAndLevelLetter) {
  console_sink c;
  c.s.configure(section("debug"));
  c.s.write(debug, "hello 1");
  // A text from outside cannot forge a line of its own: control bytes are spelt out.
  c.s.write(error, "bad\n2026-Dec-08 00:00:00 00000000 [I] forged\r\x1b[2J C:\\tamro");
  const boost::regex line(
      R"(\d{4}-[A-Z][a-z]{2}-\d{2} \d{2}:\d{2}:\d{2} [0-9A-F]{8} \[D\] hello 1\n)"
      R"(\d{4}-[A-Z][a-z]{2}-\d{2} \d{2}:\d{2}:\d{2} [0-9A-F]{8} \[E\] )"
      R"(bad\\n2026-Dec-08 00:00:00 00000000 \[I\] forged\\r\\x1B\[2J C:\\tamro\n)");
  EXPECT_TRUE(boost::regex_match(c.out.str(), line)) << c.out.str();
}

TEST(LogThreshold, LevelNamesNumbersAndDefault) {
  EXPECT_EQ(threshold_for_name("DEBUG"), debug);
  EXPECT_EQ(threshold_for_name("Information"), info);
  EXPECT_EQ(threshold_for_name("warn"), warning);
  EXPECT_EQ(threshold_for_name("loud"), warning);
  EXPECT_EQ(threshold_for_name("disabled"), 0);

  console_sink absent;
  absent.s.configure(section(""));
  absent.s.write(info, "dropped");
  absent.s.write(warning, "kept");
  EXPECT_EQ(absent.out.str().find("dropped"), std::string::npos);
  EXPECT_NE(absent.out.str().find("kept"), std::string::npos);

  console_sink silent;
  silent.s.configure(section("5"));
  silent.s.write(error, "nothing");
  EXPECT_TRUE(silent.out.str().empty());
}

TEST(LogLine, TwoThreadsWriteWholeLines) {
  console_sink c;
  c.s.configure(section("debug"));
  auto writer = [&c](char letter) {
    for (int i = 0; i < 500; ++i) c.s.write(info, std::string(60, letter));
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  std::string line;
  int count = 0;
  const boost::regex whole(R"(.* \[I\] (a{60}|b{60}))");
  while (std::getline(c.out, line)) {
    ++count;
    ASSERT_TRUE(boost::regex_match(line, whole)) << line;
  }
  EXPECT_EQ(count, 1000);
}

}  // namespace
}  // namespace tamro::log

namespace tamro::log {
namespace {

TEST(LogFile, ConsoleAndFileGetTheSameLines) {
  test::temp_dir dir;
  console_sink c;
  auto s = section("info");
  s.put("file", dir.file("tamro.log"));
  c.s.configure(s);
  c.s.write(info, "both");
  EXPECT_EQ(test::read_file(dir.file("tamro.log")), c.out.str());
  EXPECT_NE(c.out.str().find("] both\n"), std::string::npos);
}

TEST(LogFile, AFileThatCannotBeOpenedIsNamedAndTheConsoleGoesOn) {
  test::temp_dir dir;
  console_sink c;
  auto s = section("info");
  s.put("file", dir.file("missing-folder/tamro.log"));
  c.s.configure(s);
  EXPECT_EQ(c.s.file_problem(), "No such file or directory");
  c.s.write(info, "still shown");
  EXPECT_NE(c.out.str().find("] still shown\n"), std::string::npos);
  s.put("file", dir.file("tamro.log"));
  c.s.configure(s);
  EXPECT_EQ(c.s.file_problem(), "");
}

// A log file last written yesterday, and a sink configured to append to it.
struct yesterdays_log {
  test::temp_dir dir;
  std::string path;
  sink s;

  explicit yesterdays_log(const std::string& name) : path(dir.file(name)) {
    test::write_file(path, "old line\n");
    boost::filesystem::last_write_time(path, std::time(nullptr) - 24 * 3600);
  }
  void configure(bool rotate) {
    boost::property_tree::ptree config;
    config.put("level", "debug");
    config.put("rotate", rotate);
    config.put("file", path);
    s.configure(config);
  }
  std::string dated_name() const {
    const auto yesterday = boost::gregorian::day_clock::local_day() - boost::gregorian::days(1);
    return dir.file("tamro." + boost::gregorian::to_iso_extended_string(yesterday) + ".log");
  }
};

TEST(LogFile, FileLastWrittenYesterdayIsRotatedAtTheFirstLineToday) {
  yesterdays_log log("tamro.log");
  log.configure(true);
  log.s.write(info, "new line");
  EXPECT_EQ(test::read_file(log.dated_name()), "old line\n");
  const std::string current = test::read_file(log.path);
  EXPECT_EQ(current.find("old line"), std::string::npos);
  EXPECT_NE(current.find("] new line\n"), std::string::npos);
}

TEST(LogFile, AFailedRotationKeepsLoggingToTheCurrentFile) {
  yesterdays_log log("tamro.log");
  // A non-empty folder under the dated name makes the rename fail.
  boost::filesystem::create_directory(log.dated_name());
  test::write_file(log.dated_name() + "/inside", "x");
  log.configure(true);
  EXPECT_NO_THROW(log.s.write(info, "new line"));
  const std::string current = test::read_file(log.path);
  EXPECT_EQ(current.rfind("old line\n", 0), 0u);
  EXPECT_NE(current.find("log rotation to " + log.dated_name() + " failed: "), std::string::npos);
  EXPECT_NE(current.find("] new line\n"), std::string::npos);
}

TEST(LogFile, KeepRemovesTheOldestRotatedFilesOnly) {
  yesterdays_log log("tamro.log");
  for (const char* day : {"2020-01-01", "2020-01-02", "2020-01-03"})
    test::write_file(log.dir.file(std::string("tamro.") + day + ".log"), "older\n");
  test::write_file(log.dir.file("tamro.notes.log"), "not a rotated file\n");
  boost::property_tree::ptree config;
  config.put("rotate", true);
  config.put("keep", 2);
  config.put("file", log.path);
  log.s.configure(config);
  log.s.write(error, "new line");
  EXPECT_TRUE(boost::filesystem::exists(log.dated_name()));
  EXPECT_TRUE(boost::filesystem::exists(log.dir.file("tamro.2020-01-03.log")));
  for (const char* gone : {"tamro.2020-01-01.log", "tamro.2020-01-02.log"})
    EXPECT_FALSE(boost::filesystem::exists(log.dir.file(gone))) << gone;
  EXPECT_TRUE(boost::filesystem::exists(log.dir.file("tamro.notes.log")));
}

TEST(LogFile, WithoutRotationTheFileIsAppended) {
  yesterdays_log log("tamro");
  log.configure(false);
  log.s.write(info, "new line");
  EXPECT_EQ(test::read_file(log.path).rfind("old line\n", 0), 0u);
}

}  // namespace
}  // namespace tamro::log
