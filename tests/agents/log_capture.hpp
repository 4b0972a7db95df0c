#pragma once

#include <iostream>
#include <sstream>
#include <string>

#include "log/logger.hpp"
#include "log/sink.hpp"

namespace tamro::test {

// Sends every log line, debug included, to a string for the life of the object.
class log_capture {
 public:
  log_capture() {
    log::sink::global().set_console_stream(lines_.rdbuf());
    set_console(true);
    set_threshold(log::debug);
  }
  ~log_capture() {
    set_console(false);
    log::sink::global().set_console_stream(std::cout.rdbuf());
  }
  log_capture(const log_capture&) = delete;
  log_capture& operator=(const log_capture&) = delete;

  std::string text() const { return lines_.str(); }
  bool contains(const std::string& part) const { return text().find(part) != std::string::npos; }
  std::size_t count(const std::string& part) const {
    std::size_t n = 0;
    const std::string all = text();
    for (auto at = all.find(part); at != std::string::npos; at = all.find(part, at + 1)) ++n;
    return n;
  }
  void clear() { lines_.str(""); }

 private:
  std::ostringstream lines_;
};

}  // namespace tamro::test
