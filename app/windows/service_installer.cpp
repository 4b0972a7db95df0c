#include "app/service_installer.hpp"

#include <windows.h>

#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "app/paths.hpp"
#include "app/windows/service_name.hpp"

namespace tamro {
namespace {

constexpr char display_name[] = "TAMRO monitoring agent";
constexpr char description[] =
    "Polls SNMP devices and posts their heartbeats to the management server.";
constexpr DWORD restart_delay_ms = 60 * 1000;
constexpr DWORD failure_count_reset_s = 24 * 60 * 60;
constexpr auto stop_timeout = std::chrono::seconds(30);

[[noreturn]] void fail(const std::string& what, DWORD code = ::GetLastError()) {
  std::string message =
      what + ": " + boost::system::system_category().message(static_cast<int>(code));
  if (code == ERROR_ACCESS_DENIED) message += " (run it as an administrator)";
  throw std::runtime_error(message);
}

struct close_service_handle {
  void operator()(SC_HANDLE value) const { ::CloseServiceHandle(value); }
};
using handle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, close_service_handle>;

handle open_manager(DWORD access) {
  handle manager(::OpenSCManagerA(nullptr, nullptr, access));
  if (!manager) fail("cannot open the service control manager");
  return manager;
}

std::string full_path(const std::string& path) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) fail("cannot make " + path + " absolute");
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length);
  }
}

std::string executable_path() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) fail("cannot find the executable's path");
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

// A service starts in the system folder: every path on its command line must be absolute.
std::string command_line(const std::optional<std::string>& configuration) {
  std::string line = "\"" + executable_path() + "\"";
  if (configuration) line += " -c \"" + full_path(*configuration) + "\"";
  return line;
}

void configure_recovery(SC_HANDLE service) {
  SERVICE_DESCRIPTIONA text{const_cast<char*>(description)};
  if (!::ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &text)) {
    fail("cannot set the service description");
  }
  SC_ACTION actions[] = {{SC_ACTION_RESTART, restart_delay_ms},
                         {SC_ACTION_RESTART, restart_delay_ms},
                         {SC_ACTION_RESTART, restart_delay_ms}};
  SERVICE_FAILURE_ACTIONSA failure{};
  failure.dwResetPeriod = failure_count_reset_s;
  failure.cActions = sizeof actions / sizeof actions[0];
  failure.lpsaActions = actions;
  if (!::ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
    fail("cannot set the service's recovery actions");
  }
  // A start that fails on a bad configuration ends with exit code 1 rather than a crash:
  // that is a failure to restart on too. Some service managers (wine's) lack the setting:
  // restarts after crashes are still worth having there.
  SERVICE_FAILURE_ACTIONS_FLAG on_exit_code{TRUE};
  if (!::ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &on_exit_code)) {
    std::cerr << "warning: the service manager restarts the service after crashes only, not "
                 "after it stopped with an error"
              << std::endl;
  }
}

// The service control manager gives a service the environment it had itself at boot, plus
// the service's own "Environment" value: a TAMRO_HOME set for --install-service (the
// installer sets it to the folder it installs into) reaches the service only that way.
void pass_home_on() {
  const std::string service_key =
      std::string("SYSTEM\\CurrentControlSet\\Services\\") + service_name;
  const std::string entries = "TAMRO_HOME=" + home_directory() + '\0' + '\0';  // REG_MULTI_SZ
  HKEY key = nullptr;
  LSTATUS status = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, service_key.c_str(), 0, KEY_SET_VALUE, &key);
  if (status == ERROR_SUCCESS) {
    status = ::RegSetValueExA(key, "Environment", 0, REG_MULTI_SZ,
                              reinterpret_cast<const BYTE*>(entries.data()),
                              static_cast<DWORD>(entries.size()));
    ::RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS) fail("cannot give the service TAMRO_HOME", status);
}

void stop_and_wait(SC_HANDLE service) {
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(service, &status)) fail("cannot query the service");
  if (status.dwCurrentState == SERVICE_STOPPED) return;
  if (status.dwCurrentState != SERVICE_STOP_PENDING &&
      !::ControlService(service, SERVICE_CONTROL_STOP, &status) &&
      ::GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
    fail("cannot stop the service");
  }
  const auto give_up = std::chrono::steady_clock::now() + stop_timeout;
  while (::QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED) {
    if (std::chrono::steady_clock::now() > give_up) {
      throw std::runtime_error("the service did not stop within 30 seconds");
    }
    ::Sleep(250);
  }
}

}  // namespace

void install_service(const std::optional<std::string>& configuration) {
  const handle manager = open_manager(SC_MANAGER_CREATE_SERVICE);
  const std::string line = command_line(configuration);
  const bool home_given = std::getenv("TAMRO_HOME") != nullptr;
  handle service(::CreateServiceA(manager.get(), service_name, display_name, SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, line.c_str(), nullptr, nullptr, nullptr,
                                  nullptr, nullptr));
  if (!service) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_SERVICE_EXISTS) {
      throw std::runtime_error(std::string("service ") + service_name +
                               " is already installed (--remove-service removes it)");
    }
    fail(std::string("cannot create service ") + service_name, code);
  }
  try {
    configure_recovery(service.get());
    if (home_given) pass_home_on();
  } catch (...) {
    ::DeleteService(service.get());  // half a registration helps nobody
    throw;
  }
  std::cout << "service " << service_name << " installed, started automatically: " << line;
  if (home_given) std::cout << " (TAMRO_HOME=" << home_directory() << ")";
  std::cout << std::endl;
}

void remove_service() {
  const handle manager = open_manager(SC_MANAGER_CONNECT);
  handle service(
      ::OpenServiceA(manager.get(), service_name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_SERVICE_DOES_NOT_EXIST) {
      throw std::runtime_error(std::string("service ") + service_name + " is not installed");
    }
    fail(std::string("cannot open service ") + service_name, code);
  }
  stop_and_wait(service.get());
  if (!::DeleteService(service.get())) fail(std::string("cannot remove service ") + service_name);
  std::cout << "service " << service_name << " removed" << std::endl;
}

}  // namespace tamro
