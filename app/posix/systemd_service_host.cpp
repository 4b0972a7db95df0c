#include <systemd/sd-daemon.h>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "app/service_host.hpp"

namespace tamro {
namespace {

// Runs under systemd with Type=notify: the service manager learns of each state change
// through the notification socket it passed in NOTIFY_SOCKET.
class systemd_service_host : public service_host {
 public:
  void run(const std::function<void()>& main_loop) override {
    if (!std::getenv("NOTIFY_SOCKET")) throw std::runtime_error(not_a_service_message);
    main_loop();
  }
  void report_running() override { ::sd_notify(0, "READY=1\nSTATUS=running"); }
  void report_reloading() override { ::sd_notify(0, "RELOADING=1\nSTATUS=reloading"); }
  void report_stopping() override { ::sd_notify(0, "STOPPING=1\nSTATUS=stopping"); }
  void report_status(const std::string& status) override {
    std::string line = "STATUS=" + status;
    // A line break would start another assignment of the notification.
    std::replace(line.begin(), line.end(), '\n', ' ');
    ::sd_notify(0, line.c_str());
  }
  std::chrono::microseconds watchdog_interval() const override {
    std::uint64_t usec = 0;
    return ::sd_watchdog_enabled(0, &usec) > 0 ? std::chrono::microseconds(usec)
                                               : std::chrono::microseconds::zero();
  }
  void report_alive() override { ::sd_notify(0, "WATCHDOG=1"); }
};

}  // namespace

std::unique_ptr<service_host> service_host::create() {
  return std::make_unique<systemd_service_host>();
}

// A terminal already turns CTRL-C into SIGINT; SIGHUP is the reload request, as for daemons.
void install_console_control_handler() {}

const char* reload_hint() { return "send SIGHUP to reload configuration"; }

}  // namespace tamro
