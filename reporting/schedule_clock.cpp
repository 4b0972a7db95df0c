#include "reporting/schedule_clock.hpp"

#include <boost/date_time/posix_time/posix_time.hpp>

namespace tamro {
namespace {

struct anchor {
  boost::posix_time::ptime wall = boost::posix_time::microsec_clock::universal_time();
  schedule_clock::steady::time_point steady = schedule_clock::steady::now();
};

const anchor& start() {
  static const anchor instance;
  return instance;
}

}  // namespace

boost::posix_time::ptime schedule_clock::now() { return at(steady::now()); }

boost::posix_time::ptime schedule_clock::at(steady::time_point point) {
  const auto& origin = start();
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::microseconds>(point - origin.steady).count();
  const auto exact = origin.wall + boost::posix_time::microseconds(elapsed);
  return {exact.date(), boost::posix_time::seconds(exact.time_of_day().total_seconds())};
}

}  // namespace tamro
