#include "log/logger.hpp"

#include "log/sink.hpp"

namespace tamro {

const level_logger log_debug(log::debug);
const level_logger log_info(log::info);
const level_logger log_warning(log::warning);
const level_logger log_error(log::error);

namespace {
// Constructed before the entry point runs, as the first log line may come from anywhere.
log::sink& startup_sink = log::sink::global();
}  // namespace

void level_logger::operator()(const std::string& message) const {
  log::sink::global().write(level_, message);
}

void level_logger::operator()(const boost::format& message) const {
  if (enabled()) log::sink::global().write(level_, message.str());
}

bool level_logger::enabled() const { return level_ >= log::sink::global().threshold(); }

int log_threshold() { return log::sink::global().threshold(); }
void set_threshold(int threshold) { log::sink::global().set_threshold(threshold); }
void set_console(bool on) { log::sink::global().set_console(on); }
void configure_logging(const boost::property_tree::ptree& section) {
  log::sink::global().configure(section);
}

}  // namespace tamro
