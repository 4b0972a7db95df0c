#include "reporting/repeated_failure.hpp"

#include <boost/date_time/c_local_time_adjustor.hpp>
#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>

namespace tamro {
namespace {

boost::posix_time::ptime local_time(repeated_failure::clock::time_point time) {
  return boost::date_time::c_local_adjustor<boost::posix_time::ptime>::utc_to_local(
      boost::posix_time::from_time_t(repeated_failure::clock::to_time_t(time)));
}

// "1 cycle", "120 failed cycles".
std::string cycles_text(std::uint64_t cycles, const char* adjective = "") {
  return std::to_string(cycles) + adjective + (cycles == 1 ? " cycle" : " cycles");
}

}  // namespace

repeated_failure::repeated_failure(std::function<clock::time_point()> now) : now_(std::move(now)) {}

std::optional<std::string> repeated_failure::failed(const std::string& line) {
  const clock::time_point now = now_();
  if (cycles_++ == 0) since_ = now;
  // A clock set back must not hold the reminder back for as long.
  const bool reminder_due = now - shown_at_ >= reminder_period || now < shown_at_;
  if (line == shown_ && !reminder_due) return std::nullopt;
  const bool reminder = line == shown_;
  shown_ = line;
  shown_at_ = now;
  if (!reminder) return line;
  return line + " (still failing since " + since_text() + ", " + cycles_text(cycles_) + ")";
}

std::optional<std::string> repeated_failure::succeeded() {
  if (cycles_ == 0) return std::nullopt;
  std::string text = "after " + cycles_text(cycles_, " failed") + " since " + since_text();
  cycles_ = 0;
  shown_.clear();
  return text;
}

// The hour and minute; the day too once the failures began on another one.
std::string repeated_failure::since_text() const {
  const boost::posix_time::ptime since = local_time(since_);
  const boost::posix_time::time_duration time = since.time_of_day();
  const std::string clock_text = (boost::format("%02d:%02d") % time.hours() % time.minutes()).str();
  if (since.date() == local_time(now_()).date()) return clock_text;
  return boost::gregorian::to_iso_extended_string(since.date()) + " " + clock_text;
}

}  // namespace tamro
