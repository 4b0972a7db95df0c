#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <chrono>

namespace tamro {

// The time the scheduler works with: UTC in whole seconds, read from the wall clock once and
// advanced by the monotonic clock ever since. A wall clock stepped back or forth (by hand,
// by a time service) then moves no device's schedule: stepped back an hour, it would
// otherwise silence every device for that hour.
class schedule_clock {
 public:
  using steady = std::chrono::steady_clock;

  static boost::posix_time::ptime now();
  // The same timeline at a point of the monotonic clock, a timer's expiry say.
  static boost::posix_time::ptime at(steady::time_point point);
};

}  // namespace tamro
