#pragma once

#include <boost/asio/basic_waitable_timer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/wait_traits.hpp>
#include <chrono>
#include <functional>

namespace tamro {

// A periodic tick on the I/O service: the first tick comes at once, each later one at the
// previous expiry plus the period (never "now plus the period"), so the schedule does not
// drift, and ticks missed while the process was held up follow one another until it has
// caught up. The clock is a parameter so the schedule can be tested without waiting.
template <class Clock, class WaitTraits = boost::asio::wait_traits<Clock>>
class ticker {
 public:
  using timer_type = boost::asio::basic_waitable_timer<Clock, WaitTraits>;
  using time_point = typename Clock::time_point;
  // Returns false to stop ticking (a drain has begun).
  using tick_handler = std::function<bool(time_point expiry)>;

  ticker(boost::asio::io_context& io, typename Clock::duration period)
      : timer_(io), period_(period) {}

  void start(tick_handler on_tick) {
    on_tick_ = std::move(on_tick);
    timer_.expires_after(Clock::duration::zero());
    wait();
  }

  void cancel() { timer_.cancel(); }

 private:
  void wait() {
    timer_.async_wait([this](const boost::system::error_code& error) {
      if (error == boost::asio::error::operation_aborted) return;
      if (!on_tick_(timer_.expiry())) return;
      timer_.expires_at(timer_.expiry() + period_);
      wait();
    });
  }

  timer_type timer_;
  typename Clock::duration period_;
  tick_handler on_tick_;
};

}  // namespace tamro
