#pragma once

#include <streambuf>

namespace tamro::log {

// Tee buffer: every character goes to the console target, then to the file target.
// It has no buffer of its own; either target may be absent.
class streambuf : public std::streambuf {
 public:
  void set_targets(std::streambuf* file_target, std::streambuf* console_target);

 protected:
  int_type overflow(int_type character) override;
  std::streamsize xsputn(const char_type* text, std::streamsize count) override;
  int sync() override;  // flushes both targets, so a line is visible once written

 private:
  std::streambuf* file_target_ = nullptr;
  std::streambuf* console_target_ = nullptr;
};

}  // namespace tamro::log
