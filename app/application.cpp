#include "app/application.hpp"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <csignal>
#include <iostream>
#include <stdexcept>

#include "app/command_line.hpp"
#include "app/paths.hpp"
#include "app/platform.hpp"
#include "app/service_installer.hpp"
#include "app/version.hpp"
#include "log/logger.hpp"
#include "log/sink.hpp"
#include "reporting/agent.hpp"
#include "reporting/schedule_clock.hpp"

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
    if (install_service_) {
      install_service(configuration_option_);
    } else if (remove_service_) {
      remove_service();
    } else if (check_) {
      check_configuration();
    } else if (once_) {
      poll_once();
    } else if (foreground_) {
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
    check_ = options.check;
    once_ = options.once;
    post_ = options.post;
    install_service_ = options.install_service;
    remove_service_ = options.remove_service;
    configuration_option_ = options.configuration;
  }
}

void application::report_error(const std::string& message) {
  // The check already shows log lines on the console; one "Error: " line is enough there.
  if (!check_) log_error(message);
  std::cerr << "Error: " << message << std::endl;
  exit_code_ = 1;
}

// Loads everything a start loads, without opening the log file, and reports each problem
// on standard output. Nothing is written and nothing is sent.
void application::check_configuration() {
  set_console(true);
  if (!verbose_) set_threshold(log::warning);
  mappings_.report_item_errors(true);
  const unsigned long errors_before = log::sink::global().error_lines();
  reload_configuration();
  const unsigned long problems = log::sink::global().error_lines() - errors_before;
  if (problems == 0) {
    std::cout << "configuration " << configuration_file_ << " is OK: " << mappings_.size()
              << " mappings, " << devices_.size() << " devices" << std::endl;
  } else {
    std::cout << problems << " problem(s) found in " << configuration_file_ << std::endl;
    exit_code_ = 1;
  }
}

// Polls every device and the status reporter once, shows the heartbeats (and, when posting,
// the replies) on standard output, and ends when all of them are done.
void application::poll_once() {
  platform::raise_open_file_limit();
  start_time_ = clock::now();
  agent::set_transcript(&std::cout, post_);
  reload_configuration();
  const auto now = schedule_clock::now();
  for (const auto& entry : devices_) {
    entry.second->cycle_start = now;
    entry.second->start_heartbeat();
  }
  reporter_.cycle_start = now;
  reporter_.start_heartbeat();
  io_service_.run();
  agent::set_transcript(nullptr, true);

  std::size_t answered = 0;
  for (const auto& entry : devices_) {
    if (entry.second->heartbeat_counter() > 0) ++answered;
  }
  std::cerr << answered << " of " << devices_.size() << " devices answered" << std::endl;
  if (answered < devices_.size()) exit_code_ = 1;
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

  start_time_ = clock::now();
  log_info(boost::format("--- %1% started ---") % version_text);
  while (!stop_requested_) {
    reload_configuration();
    if (service_) service_->report_running();
    run_io_cycle();
  }
}

}  // namespace tamro
