#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <boost/regex.hpp>
#include <sstream>
#include <thread>
#include <vector>

#include "log/sink.hpp"

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
  c.s.write(error, "bad");
  const boost::regex line(
      R"(\d{4}-[A-Z][a-z]{2}-\d{2} \d{2}:\d{2}:\d{2} [0-9A-F]{8} \[D\] hello 1\n)"
      R"(\d{4}-[A-Z][a-z]{2}-\d{2} \d{2}:\d{2}:\d{2} [0-9A-F]{8} \[E\] bad\n)");
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
