#pragma once

#include <boost/format.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <string>

namespace tamro {

// One of the four level loggers; a message is a plain text or a "%1%"-style format object.
class level_logger {
 public:
  explicit constexpr level_logger(int level) : level_(level) {}

  void operator()(const std::string& message) const;
  void operator()(const boost::format& message) const;

  // False when a line of this level would be dropped, so callers can skip building it.
  bool enabled() const;

 private:
  int level_;
};

extern const level_logger log_debug;
extern const level_logger log_info;
extern const level_logger log_warning;
extern const level_logger log_error;

int log_threshold();
void set_threshold(int threshold);
void set_console(bool on);
// Applies the "logging" section of the configuration.
void configure_logging(const boost::property_tree::ptree& section);

}  // namespace tamro
