#include "log/sink.hpp"

#include <algorithm>
#include <boost/date_time/c_local_time_adjustor.hpp>
#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/filesystem.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <iomanip>
#include <iostream>
#include <thread>
#include <vector>

#include "log/log_file.hpp"

namespace tamro::log {
namespace {

// Texts from devices and from the server end up in messages: a line break in them must not
// forge a log line of its own, nor a control byte reach a terminal. Backslashes stay as
// they are, so that paths read as written.
std::string one_line(const std::string& message) {
  const auto is_control = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
  };
  if (std::none_of(message.begin(), message.end(), is_control)) return message;
  std::string text;
  for (const char c : message) {
    if (c == '\n') {
      text += "\\n";
    } else if (c == '\r') {
      text += "\\r";
    } else if (is_control(c)) {
      static const char digits[] = "0123456789ABCDEF";
      const auto byte = static_cast<unsigned char>(c);
      text += "\\x";
      text += digits[byte >> 4];
      text += digits[byte & 0xF];
    } else {
      text += c;
    }
  }
  return text;
}

char level_letter(int level) {
  static const char letters[] = "?DIWE";
  return level >= 0 && level <= 4 ? letters[level] : '?';
}

// Any stable per-thread value will do; operators only need to tell threads apart.
unsigned thread_number() {
  return static_cast<unsigned>(std::hash<std::thread::id>()(std::this_thread::get_id()) &
                               0xFFFFFFFFu);
}

// "tamro.log" written on 5 October 2013 becomes "tamro.2013-10-05.log". Only a dot in the
// file name counts, so a dotted folder name is never changed.
std::string dated_name(const std::string& path, const boost::gregorian::date& day) {
  const std::string date = boost::gregorian::to_iso_extended_string(day);
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return path + "." + date;
  }
  return path.substr(0, dot) + "." + date + path.substr(dot);
}

// Whether name is path's file name with a date inserted by dated_name: the rotated files.
bool is_rotated_name(const std::string& name, const std::string& path) {
  static const std::string sample = "2013-10-05";
  const std::string file = boost::filesystem::path(path).filename().string();
  const std::size_t dot = file.find_last_of('.');
  const std::string head = dot == std::string::npos ? file + "." : file.substr(0, dot + 1);
  const std::string tail = dot == std::string::npos ? "" : file.substr(dot);
  if (name.size() != head.size() + sample.size() + tail.size()) return false;
  if (name.compare(0, head.size(), head) != 0) return false;
  if (name.compare(name.size() - tail.size(), tail.size(), tail) != 0) return false;
  for (std::size_t i = 0; i < sample.size(); ++i) {
    const char c = name[head.size() + i];
    if (sample[i] == '-' ? c != '-' : !std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

std::optional<int> level_for_name(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (name == "off" || name == "disable" || name == "disabled") return 0;
  if (name == "debug") return debug;
  if (name == "info" || name == "information") return info;
  if (name == "warning" || name == "warn") return warning;
  if (name == "error") return error;
  return std::nullopt;
}

int threshold_for_name(std::string name) {
  return level_for_name(std::move(name)).value_or(warning);
}

sink::sink() : console_stream_(std::cout.rdbuf()), stream_(&buffer_) {}

sink& sink::global() {
  static sink instance;
  return instance;
}

void sink::write(int level, const std::string& message) {
  if (level >= error) ++error_lines_;
  if (level < threshold_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_.is_open() && rotate_) rotate_if_new_day();
  const auto now = boost::posix_time::second_clock::local_time();
  if (console_target_ && journal_prefixes_) {
    const std::string prefix = console_prefix(level);
    console_target_->sputn(prefix.data(), static_cast<std::streamsize>(prefix.size()));
  }
  if (bare_lines_) {
    stream_ << (level == warning ? "warning: " : "") << one_line(message) << '\n';
  } else {
    stream_ << boost::posix_time::to_simple_string(now) << ' ' << std::hex << std::uppercase
            << std::setw(8) << std::setfill('0') << thread_number() << std::dec << " ["
            << level_letter(level) << "] " << one_line(message) << '\n';
  }
  stream_.flush();
}

std::string sink::console_prefix(int level) const {
  if (!journal_prefixes_) return "";
  switch (level) {
    case error:
      return "<3>";
    case warning:
      return "<4>";
    case info:
      return "<6>";
    default:
      return "<7>";
  }
}

void sink::rotate_if_new_day() {
  const auto now = boost::posix_time::second_clock::local_time();
  if (!last_write_.is_not_a_date_time() && last_write_.date() < now.date()) {
    const std::string rotated = dated_name(file_path_, last_write_.date());
    file_.close();
    boost::system::error_code error;
    boost::filesystem::rename(file_path_, rotated, error);
    open_file();
    // A log line must never throw into the caller (any thread may log): keep writing to
    // the current file and say why it was not rotated.
    if (error) {
      stream_ << "log rotation to " << rotated << " failed: " << error.message() << '\n';
    } else if (keep_) {
      remove_old_rotated_files();
    }
  }
  last_write_ = now;
}

// The dates in the names sort as the days do: all but the newest keep_ go.
void sink::remove_old_rotated_files() {
  namespace fs = boost::filesystem;
  const fs::path file(file_path_);
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  std::vector<fs::path> rotated;
  boost::system::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    if (is_rotated_name(entry->path().filename().string(), file_path_))
      rotated.push_back(entry->path());
  }
  if (rotated.size() <= *keep_) return;
  std::sort(rotated.begin(), rotated.end());
  for (std::size_t i = 0; i < rotated.size() - *keep_; ++i) {
    boost::system::error_code ignored;
    fs::remove(rotated[i], ignored);
  }
}

void sink::open_file() {
  file_.clear();
  create_log_file(file_path_);
  file_.open(file_path_, std::ios::out | std::ios::app | std::ios::binary);
  point_targets();
}

void sink::point_targets() {
  buffer_.set_targets(file_.is_open() ? file_.rdbuf() : nullptr, console_target_);
}

void sink::set_console(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  console_target_ = on ? console_stream_ : nullptr;
  point_targets();
}

void sink::configure(const boost::property_tree::ptree& section) {
  set_console(section.get_optional<bool>("console").value_or(false));
  if (const auto number = section.get_optional<int>("level")) {
    threshold_ = *number;
  } else {
    threshold_ = threshold_for_name(section.get<std::string>("level", "warning"));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  rotate_ = section.get_optional<bool>("rotate").value_or(false);
  const auto keep = section.get_optional<int>("keep");
  keep_ = keep && *keep >= 0 ? std::optional<std::size_t>(*keep) : std::nullopt;
  if (file_.is_open()) {
    file_.close();
    point_targets();
  }
  last_write_ = boost::posix_time::not_a_date_time;
  file_problem_.clear();
  if (const auto path = section.get_optional<std::string>("file")) {
    file_path_ = *path;
    errno = 0;
    open_file();
    if (!file_.is_open()) file_problem_ = errno ? std::strerror(errno) : "cannot be opened";
    // The console goes on without the file: a failed stream would silence it too.
    stream_.clear();
    if (file_.is_open() && rotate_) {
      boost::system::error_code error;
      const std::time_t modified = boost::filesystem::last_write_time(file_path_, error);
      if (!error) {
        last_write_ = boost::date_time::c_local_adjustor<boost::posix_time::ptime>::utc_to_local(
            boost::posix_time::from_time_t(modified));
      }
    }
  }
}

}  // namespace tamro::log
