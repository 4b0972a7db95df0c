#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tamro {

// Which failure lines of one agent's work (its SNMP polls, or its posts) the log shows. A
// device that stays down would otherwise log the same line every cycle: at thousands of
// devices, gigabytes a day. A failure whose line differs from the last one shown is shown;
// the same line again only as a reminder, at most once an hour; and the first success after
// failures says that they ended. Callers count every failure themselves (the metrics, the
// test mode): this only decides what the log says.
class repeated_failure {
 public:
  using clock = std::chrono::system_clock;
  static constexpr std::chrono::hours reminder_period{1};

  explicit repeated_failure(std::function<clock::time_point()> now = clock::now);

  // A failure whose log line is line: the line to log (a reminder has "(still failing since
  // 03:12, 120 cycles)" appended), or nothing when the log showed it recently.
  std::optional<std::string> failed(const std::string& line);
  // A success: after failures, how long they lasted ("after 120 failed cycles since 03:12"),
  // and the count starts afresh; nothing when there were none.
  std::optional<std::string> succeeded();

 private:
  std::string since_text() const;

  std::function<clock::time_point()> now_;
  std::uint64_t cycles_ = 0;  // failed in a row
  clock::time_point since_;   // the first of them
  std::string shown_;         // the line last shown
  clock::time_point shown_at_;
};

}  // namespace tamro
