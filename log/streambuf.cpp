#include "log/streambuf.hpp"

namespace tamro::log {

void streambuf::set_targets(std::streambuf* file_target, std::streambuf* console_target) {
  file_target_ = file_target;
  console_target_ = console_target;
}

streambuf::int_type streambuf::overflow(int_type character) {
  if (traits_type::eq_int_type(character, traits_type::eof()))
    return traits_type::not_eof(character);
  const char_type c = traits_type::to_char_type(character);
  if (console_target_) console_target_->sputc(c);
  if (file_target_) file_target_->sputc(c);
  return character;
}

std::streamsize streambuf::xsputn(const char_type* text, std::streamsize count) {
  if (console_target_) console_target_->sputn(text, count);
  if (file_target_) file_target_->sputn(text, count);
  return count;
}

int streambuf::sync() {
  if (console_target_) console_target_->pubsync();
  if (file_target_) file_target_->pubsync();
  return 0;
}

}  // namespace tamro::log
