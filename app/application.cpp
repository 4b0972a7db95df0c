#include "app/application.hpp"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <csignal>
#include <iostream>
#include <stdexcept>

#include "app/command_line.hpp"
#include "app/paths.hpp"
#include "app/platform.hpp"
#include "app/version.hpp"
#include "log/logger.hpp"
#include "reporting/agent.hpp"

namespace tamro {
namespace {
std::unique_ptr<application> the_instance;
}  // namespace

application& application::instance() {
  if (!the_instance) the_instance = std::make_unique<application>();
  return *the_instance;
}

void application::destroy_instance() { the_instance.reset(); }

application::application(clock::duration tick_period)
    : configuration_file_(default_configuration_file()),
      stop_signals_(io_service_),
      reload_signals_(io_service_),
      heartbeat_timer_(io_service_, tick_period),
      reporter_(io_service_, identity_) {}

application::~application() = default;

int application::run(int argc, const char* const argv[]) {
  exit_code_ = 0;
  try {
    process_options(argc, argv);
    if (stop_requested_) return 0;
    if (verbose_) {
      set_threshold(1);
      set_console(true);
    }
    if (foreground_) {
      main_loop();
    } else {
      service_ = service_host::create();
      service_->run([this] { main_loop(); });
    }
  } catch (const std::exception& e) {
    report_error(e.what());
  } catch (...) {
    report_error("unknown exception caught");
  }
  agent::clear_template_cache();
  return exit_code_;
}

void application::process_options(int argc, const char* const argv[]) {
  const command_line options = parse_command_line(argc, argv);
  if (options.help) {
    std::cout << version_text << "\n\n" << options.help_text;
    stop_requested_ = true;
  } else if (options.version) {
    std::cout << version_text << '\n';
    stop_requested_ = true;
  } else {
    verbose_ = options.verbose;
    foreground_ = options.foreground;
    if (options.configuration) configuration_file_ = *options.configuration;
  }
}

void application::report_error(const std::string& message) {
  log_error(message);
  std::cerr << "Error: " << message << std::endl;
  exit_code_ = 1;
}

void application::main_loop() {
  platform::raise_open_file_limit();
  install_console_control_handler();
  boost::system::error_code error;
  stop_signals_.add(SIGTERM, error);
  if (!error) stop_signals_.add(SIGINT, error);
  if (!error) reload_signals_.add(platform::reload_signal(), error);
  if (error) throw boost::system::system_error(error, "add");
  log_info(reload_hint());
  log_info("press CTRL-C to exit");

  start_time_ = boost::posix_time::second_clock::local_time();
  log_info(boost::format("--- %1% started ---") % version_text);
  while (!stop_requested_) {
    reload_configuration();
    if (service_) service_->report_running();
    run_io_cycle();
  }
}

}  // namespace tamro
