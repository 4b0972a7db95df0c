#include <gtest/gtest.h>

#include <vector>

#include "app/ticker.hpp"

namespace tamro {
namespace {

using namespace std::chrono_literals;

// A clock the test moves by hand; the timer polls it every millisecond of real time.
struct manual_clock {
  using duration = std::chrono::milliseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<manual_clock>;
  static constexpr bool is_steady = true;
  static time_point current;
  static time_point now() { return current; }
};
manual_clock::time_point manual_clock::current{};

struct polling_traits {
  static std::chrono::milliseconds to_wait_duration(const manual_clock::duration& d) {
    return d > manual_clock::duration::zero() ? 1ms : 0ms;
  }
  static std::chrono::milliseconds to_wait_duration(const manual_clock::time_point& t) {
    return to_wait_duration(t - manual_clock::now());
  }
};

struct tick_recorder {
  boost::asio::io_context io;
  ticker<manual_clock, polling_traits> tick{io, 30s};
  std::vector<manual_clock::duration> ticks;  // expiries, relative to the start
  manual_clock::duration work_per_tick = 0ms;

  tick_recorder() {
    manual_clock::current = manual_clock::time_point{};
    tick.start([this](manual_clock::time_point expiry) {
      ticks.push_back(expiry.time_since_epoch());
      manual_clock::current += work_per_tick;
      return true;
    });
  }
  void advance_to(manual_clock::duration t) {
    manual_clock::current = manual_clock::time_point{} + t;
    io.run_for(30ms);
  }
};

TEST(Ticker, FirstTickAtOnceThenEveryPeriodWithoutDrift) {
  tick_recorder r;
  r.work_per_tick = 7s;  // slow ticks must not push the schedule
  r.advance_to(0s);
  ASSERT_EQ(r.ticks.size(), 1u);
  r.advance_to(29s);
  EXPECT_EQ(r.ticks.size(), 1u);
  r.advance_to(30s);
  r.advance_to(60s);
  EXPECT_EQ(r.ticks, (std::vector<manual_clock::duration>{0s, 30s, 60s}));
}

TEST(Ticker, MissedTicksCatchUpOnTheOriginalSchedule) {
  tick_recorder r;
  r.advance_to(0s);
  r.advance_to(100s);  // the process was held up for more than three periods
  EXPECT_EQ(r.ticks, (std::vector<manual_clock::duration>{0s, 30s, 60s, 90s}));
  r.advance_to(120s);
  EXPECT_EQ(r.ticks.back(), 120s);
}

TEST(Ticker, StopsWhenTheHandlerSaysSoOrOnCancel) {
  boost::asio::io_context io;
  ticker<manual_clock, polling_traits> tick(io, 30s);
  int count = 0;
  manual_clock::current = manual_clock::time_point{};
  tick.start([&](manual_clock::time_point) { return ++count < 2; });
  manual_clock::current += 90s;
  io.run_for(50ms);
  EXPECT_EQ(count, 2);

  io.restart();
  tick.start([&](manual_clock::time_point) { return ++count > 0; });
  tick.cancel();
  io.run_for(20ms);
  EXPECT_EQ(count, 2);
}

}  // namespace
}  // namespace tamro
