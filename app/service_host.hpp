#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace tamro {

// The operating system's service manager as the application sees it: it runs the main loop
// as a service and is told about the service's state. The Windows service control manager
// and systemd each have an implementation; nothing else in the tree knows which one runs.
class service_host {
 public:
  virtual ~service_host() = default;

  // Runs main_loop as the service and returns when the service has stopped. An exception
  // from the loop is raised again here. Throws when the process was not started as a service.
  virtual void run(const std::function<void()>& main_loop) = 0;

  virtual void report_running() = 0;    // after every configuration load
  virtual void report_reloading() = 0;  // a reload drain has begun
  virtual void report_stopping() = 0;   // a stop drain has begun
  // A line for the operator beside the state, where the service manager shows one.
  virtual void report_status(const std::string& status) = 0;
  // How often the service manager wants to hear that the main loop still turns; zero when
  // it does not watch.
  virtual std::chrono::microseconds watchdog_interval() const = 0;
  virtual void report_alive() = 0;

  static std::unique_ptr<service_host> create();
};

// Console events (CTRL-C, CTRL-BREAK, closing the window) become stop and reload signals.
// Where the terminal already delivers signals, there is nothing to install.
void install_console_control_handler();

// The line that tells an operator how to ask for a reload on this platform.
const char* reload_hint();

// The service's own message for a start without -f outside the service manager.
inline constexpr const char* not_a_service_message =
    "this application should be started as a service unless the -f option is specified.";

}  // namespace tamro
