#include "app/application.hpp"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/filesystem.hpp>
#include <csignal>
#include <iostream>
#include <stdexcept>

#include "app/command_line.hpp"
#include "app/home_lock.hpp"
#include "app/paths.hpp"
#include "app/platform.hpp"
#include "app/service_installer.hpp"
#include "app/version.hpp"
#include "log/logger.hpp"
#include "log/sink.hpp"
#include "reporting/schedule_clock.hpp"
#include "reporting/transcript_sender.hpp"

namespace tamro {
namespace {
std::unique_ptr<application> the_instance;

// A folder of its own under the system's temporary folder, removed with its content.
class scratch_folder {
 public:
  scratch_folder()
      : path_(boost::filesystem::temp_directory_path() /
              boost::filesystem::unique_path("tamro-check-%%%%-%%%%-%%%%")) {}
  ~scratch_folder() {
    boost::system::error_code ignored;
    boost::filesystem::remove_all(path_, ignored);
  }
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;
  std::string path() const { return path_.string(); }

 private:
  boost::filesystem::path path_;
};

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
      tick_period_(tick_period),
      heartbeat_timer_(io_service_, tick_period),
      reporter_(io_service_, posting_.poster(), identity_),
      metrics_(io_service_, [this](const metrics_connection::request& request) {
        return answer_metrics_request(
            request, [this] { return render_metrics(); }, loop_turns());
      }) {}

application::~application() = default;

int application::run(int argc, const char* const argv[]) {
  exit_code_ = 0;
  log::sink::global().set_journal_prefixes(platform::console_is_journal());
  try {
    process_options(argc, argv);
    if (stop_requested_) return 0;
    // Standard output carries the test mode's heartbeats, and nothing else.
    if (once_) log::sink::global().set_console_stream(std::cerr.rdbuf());
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
  heartbeat_renderer::clear_cache();
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
  // The test modes show log lines on the console alone; one "Error: " line is enough there.
  if (!check_ && !once_) log_error(message);
  std::cerr << log::sink::global().console_prefix(log::error) << "Error: " << message << std::endl;
  exit_code_ = 1;
}

// Loads everything a start loads, without opening the log file, and reports each problem
// on standard output. Nothing is written and nothing is sent.
void application::check_configuration() {
  // The SNMP library creates files in its persistent folder as it starts; the check must
  // leave the real one alone (run as root, it would leave files the service cannot write).
  const scratch_folder snmp_persistence;
  check_persistent_directory_ = snmp_persistence.path();
  set_console(true);
  log::sink::global().set_bare_lines(true);
  if (!verbose_) set_threshold(log::warning);
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
// the replies, which are not applied) on standard output, and ends when all of them are
// done. Log lines go to standard error, never to the service's log file.
void application::poll_once() {
  platform::raise_open_file_limit();
  start_time_ = clock::now();
  transcript_sender transcript(io_service_, std::cout, post_ ? &posting_.server() : nullptr);
  posting_.poster().use(transcript);
  reload_configuration();
  const auto now = schedule_clock::now();
  for (const auto& entry : devices_) {
    entry.second->cycle_start = now;
    entry.second->start_heartbeat();
  }
  reporter_.cycle_start = now;
  reporter_.start_heartbeat();
  io_service_.run();
  posting_.poster().use(posting_.server());

  // Every failure on standard error with its reason: a test run that says nothing about
  // what went wrong is no test.
  const auto failed = [&](const agent& polled) {
    if (polled.last_delivered == now) return false;
    std::cerr << polled.name() << ": "
              << (polled.last_failure.empty() ? "no heartbeat delivered" : polled.last_failure)
              << std::endl;
    return true;
  };
  // A device may answer and its heartbeat still not reach the server: both are counted.
  std::size_t answered = 0;
  std::size_t delivered = 0;
  for (const auto& entry : devices_) {
    if (entry.second->answered()) ++answered;
    if (!failed(*entry.second)) ++delivered;
  }
  if (!failed(reporter_)) ++delivered;
  const std::size_t heartbeats = devices_.size() + 1;
  for (const std::string& dropped : devices_.item_errors())
    std::cerr << devices_file_ << ": device not polled: " << dropped << std::endl;
  std::cerr << answered << " of " << devices_.size() << " devices answered, " << delivered << " of "
            << heartbeats << " heartbeats " << (post_ ? "delivered" : "printed") << std::endl;
  if (devices_.empty()) {
    throw std::runtime_error(devices_.item_errors().empty()
                                 ? "no device to poll: " + devices_file_ + " lists none"
                                 : "no device to poll: every device of " + devices_file_ +
                                       " was dropped (see above)");
  }
  if (answered < devices_.size() || delivered < heartbeats || !devices_.item_errors().empty())
    exit_code_ = 1;
}

void application::main_loop() {
  const auto lock = lock_home();
  platform::raise_open_file_limit();
  install_console_control_handler();
  boost::system::error_code error;
  stop_signals_.add(SIGTERM, error);
  if (!error) stop_signals_.add(SIGINT, error);
  if (!error) reload_signals_.add(platform::reload_signal(), error);
  if (error) throw boost::system::system_error(error, "add");
  log_info(reload_hint());
  log_info("press CTRL-C to exit");

  if (service_ && service_->watchdog_interval() > clock::duration::zero())
    watchdog_timer_ =
        std::make_unique<ticker<clock>>(io_service_, service_->watchdog_interval() / 2);
  start_time_ = clock::now();
  // The banner is the first line of the run in the log file, once the load has opened it.
  announce_start_ = true;
  reload_configuration();
  for (;;) {
    if (service_) service_->report_running();
    run_io_cycle();
    if (stop_requested_) break;
    reload_or_keep_configuration();
  }
}

// A typo in a reload must not end the monitoring of every device: the devices go on being
// polled with what was in force until a reload succeeds.
void application::reload_or_keep_configuration() {
  try {
    reload_configuration();
    reload_failure_.clear();
  } catch (const std::exception& e) {
    const std::string message = std::string(e.what()) +
                                " - the running configuration is kept; correct the file and "
                                "reload again";
    log_error(message);
    reload_failure_ = "reload failed: " + message;
    if (service_) {
      service_->report_running();
      service_->report_status(reload_failure_);
    }
  }
}

}  // namespace tamro
