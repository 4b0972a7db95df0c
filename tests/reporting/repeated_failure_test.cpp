#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <optional>
#include <string>

#include "reporting/repeated_failure.hpp"

namespace tamro {
namespace {

using namespace std::chrono_literals;
using clock = repeated_failure::clock;

// Today at this local time.
clock::time_point today_at(int hour, int minute) {
  const std::time_t now = std::time(nullptr);
  std::tm local = *std::localtime(&now);
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  return clock::from_time_t(std::mktime(&local));
}

struct failures {
  clock::time_point now = today_at(13, 12);
  repeated_failure log{[this] { return now; }};
};

const std::string timeout = "127.0.0.9 - SNMP response error: Timeout";

TEST(RepeatedFailure, ARunShowsItsFirstLineThenAReminderAnHourAndItsEnd) {
  failures f;
  // The minutes after the first failure, and what the log shows for each.
  const struct {
    std::chrono::minutes at;
    std::string line;
    std::optional<std::string> shown;
  } steps[] = {
      {0min, timeout, timeout},
      {1min, timeout, std::nullopt},
      {59min, timeout, std::nullopt},
      {61min, timeout, timeout + " (still failing since 13:12, 4 cycles)"},
      {120min, timeout, std::nullopt},  // an hour after the reminder, not after the start
      {122min, timeout, timeout + " (still failing since 13:12, 6 cycles)"},
      // Another reason is news at once, and the same again is not.
      {123min, "127.0.0.9 - SNMP response error: Unknown host",
       "127.0.0.9 - SNMP response error: Unknown host"},
      {124min, "127.0.0.9 - SNMP response error: Unknown host", std::nullopt},
  };
  const clock::time_point start = f.now;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.at.count());
    f.now = start + step.at;
    EXPECT_EQ(f.log.failed(step.line), step.shown);
  }
  EXPECT_EQ(f.log.succeeded(), "after 8 failed cycles since 13:12");
  EXPECT_EQ(f.log.succeeded(), std::nullopt) << "only the first success ends a run";

  // A run after that starts afresh: its first line is shown, even if the last one was the
  // same; a single failure is one cycle.
  f.now += 1min;
  EXPECT_EQ(f.log.failed(timeout), timeout);
  EXPECT_EQ(f.log.succeeded(), "after 1 failed cycle since 15:17");
}

TEST(RepeatedFailure, AClockSetBackRemindsAtOnceAndARunFromAnotherDayNamesIt) {
  failures f;
  EXPECT_EQ(f.log.failed(timeout), timeout);
  f.now -= 10min;
  EXPECT_EQ(f.log.failed(timeout), timeout + " (still failing since 13:12, 2 cycles)");
  EXPECT_EQ(f.log.failed(timeout), std::nullopt);

  failures old;
  old.now = today_at(13, 12) - 48h;
  old.log.failed(timeout);
  const std::time_t started = clock::to_time_t(old.now);
  char since[32];
  std::strftime(since, sizeof since, "%Y-%m-%d %H:%M", std::localtime(&started));
  old.now += 47h;
  EXPECT_EQ(old.log.failed(timeout), timeout + " (still failing since " + since + ", 2 cycles)");
}

}  // namespace
}  // namespace tamro
