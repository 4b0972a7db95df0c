#pragma once

#include <atomic>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <fstream>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "log/streambuf.hpp"

namespace tamro::log {

enum level : int { debug = 1, info = 2, warning = 3, error = 4 };

// Threshold for a level name of the configuration ("debug", "warn", ...), any letter case;
// nothing for an unknown name.
std::optional<int> level_for_name(std::string name);
// As level_for_name, with warning for an unknown name.
int threshold_for_name(std::string name);

// The process-wide log sink: formats whole lines under one mutex and writes them to the
// console and/or a file with optional daily rotation.
class sink {
 public:
  sink();
  sink(const sink&) = delete;
  sink& operator=(const sink&) = delete;

  static sink& global();

  void write(int level, const std::string& message);

  int threshold() const { return threshold_; }
  // Lines logged at error level so far, written or not: the configuration check's verdict.
  unsigned long error_lines() const { return error_lines_; }
  void set_threshold(int threshold) { threshold_ = threshold; }
  void set_console(bool on);
  void configure(const boost::property_tree::ptree& section);
  // Why the configured log file could not be opened; empty when it is open or none is set.
  const std::string& file_problem() const { return file_problem_; }

  // Console lines start with the journal's priority ("<3>" for errors ...), so that the
  // journal can filter them; the file's lines do not.
  void set_journal_prefixes(bool on) { journal_prefixes_ = on; }
  // The prefix of a console line of this level: empty unless journal prefixes are on.
  std::string console_prefix(int level) const;

  // Lines of the message alone, without date, thread and level, for a report an operator
  // reads on the console (the configuration check); warnings then start with "warning: ".
  void set_bare_lines(bool on) { bare_lines_ = on; }

  // Where the console output goes; standard output unless a test redirects it.
  void set_console_stream(std::streambuf* console) { console_stream_ = console; }

 private:
  void rotate_if_new_day();
  void remove_old_rotated_files();
  void open_file();
  void point_targets();

  std::mutex mutex_;
  std::atomic<int> threshold_{debug};
  std::atomic<unsigned long> error_lines_{0};
  std::streambuf* console_stream_;
  std::streambuf* console_target_ = nullptr;
  streambuf buffer_;
  std::ostream stream_;
  std::string file_path_;
  std::string file_problem_;
  std::ofstream file_;
  bool rotate_ = true;
  std::atomic<bool> journal_prefixes_{false};
  std::atomic<bool> bare_lines_{false};
  std::optional<std::size_t> keep_;  // rotated files kept; all when absent
  boost::posix_time::ptime last_write_;
};

}  // namespace tamro::log
