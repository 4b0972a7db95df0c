#include <windows.h>
#include <csignal>
#include <exception>
#include <stdexcept>
#include <string>

#include "app/service_host.hpp"
#include "app/windows/service_name.hpp"
#include "log/logger.hpp"

namespace tamro {
namespace {

// The service control manager calls back into plain functions; they reach the one host
// through this pointer, set while the dispatcher runs.
class windows_service_host;
windows_service_host* current_host = nullptr;

// A service has no console: the reason it stopped goes to the Application event log
// (source "TAMRO"), where Windows operators look for it.
void report_to_event_log(const std::string& message) {
  HANDLE source = ::RegisterEventSourceA(nullptr, service_name);
  if (source == nullptr) return;
  const char* strings[] = {message.c_str()};
  ::ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
  ::DeregisterEventSource(source);
}

std::string reason_of(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception caught";
  }
}

class windows_service_host : public service_host {
 public:
  windows_service_host() {
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status_.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PARAMCHANGE;
    current_host = this;
  }
  ~windows_service_host() override { current_host = nullptr; }

  void run(const std::function<void()>& main_loop) override {
    main_loop_ = &main_loop;
    char name[sizeof service_name];
    std::copy(service_name, service_name + sizeof service_name, name);
    SERVICE_TABLE_ENTRYA table[] = {{name, &windows_service_host::service_main},
                                    {nullptr, nullptr}};
    if (!::StartServiceCtrlDispatcherA(table)) throw std::runtime_error(not_a_service_message);
    if (failure_) std::rethrow_exception(failure_);
  }

  void report_running() override { report(SERVICE_RUNNING, 0); }
  // The service control manager has no reloading state; running is reported after the load.
  void report_reloading() override {}
  void report_stopping() override {}
  // The service control manager shows no status text; the log has it.
  void report_status(const std::string&) override {}
  // The service control manager has no watchdog.
  std::chrono::microseconds watchdog_interval() const override {
    return std::chrono::microseconds::zero();
  }
  void report_alive() override {}

 private:
  static void WINAPI service_main(DWORD, LPSTR*) {
    windows_service_host& host = *current_host;
    try {
      host.handle_ = ::RegisterServiceCtrlHandlerA(service_name, &control_handler);
      if (!host.handle_) throw std::runtime_error("unable to register service control handler");
      host.report(SERVICE_START_PENDING, 0);
      (*host.main_loop_)();
      host.report(SERVICE_STOPPED, 0);
    } catch (...) {
      host.failure_ = std::current_exception();
      report_to_event_log("Error: " + reason_of(host.failure_));
      // "sc query" shows SERVICE_EXIT_CODE 1, the agent's own, rather than Windows error 1
      // ("Incorrect function").
      host.report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 1);
    }
  }

  static void WINAPI control_handler(DWORD control) {
    switch (control) {
      case SERVICE_CONTROL_STOP:
        log_debug("SERVICE_CONTROL_STOP received");
        current_host->report(SERVICE_STOP_PENDING, 0);
        std::raise(SIGINT);
        break;
      case SERVICE_CONTROL_INTERROGATE:
        log_debug("SERVICE_CONTROL_INTERROGATE received");
        break;
      case SERVICE_CONTROL_PARAMCHANGE:
        log_debug("SERVICE_CONTROL_PARAMCHANGE received");
        std::raise(SIGBREAK);
        break;
      default:
        log_debug("unknown service control command received");
    }
  }

  void report(DWORD state, DWORD exit_code, DWORD service_exit_code = 0) {
    status_.dwCurrentState = state;
    status_.dwWin32ExitCode = exit_code;
    status_.dwServiceSpecificExitCode = service_exit_code;
    if (handle_) ::SetServiceStatus(handle_, &status_);
  }

  const std::function<void()>* main_loop_ = nullptr;
  SERVICE_STATUS_HANDLE handle_ = nullptr;
  SERVICE_STATUS status_{};
  std::exception_ptr failure_;
};

BOOL WINAPI console_control_handler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      std::raise(SIGINT);
      return TRUE;
    case CTRL_BREAK_EVENT:
      std::raise(SIGBREAK);
      return TRUE;
    case CTRL_CLOSE_EVENT:
      std::raise(SIGTERM);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

std::unique_ptr<service_host> service_host::create() {
  return std::make_unique<windows_service_host>();
}

void install_console_control_handler() { ::SetConsoleCtrlHandler(&console_control_handler, TRUE); }

const char* reload_hint() { return "press CTRL-BREAK to reload configuration"; }

}  // namespace tamro
