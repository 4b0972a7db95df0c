#include "app/service_installer.hpp"

#include <windows.h>

#include <algorithm>
#include <boost/system/error_code.hpp>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "app/paths.hpp"
#include "app/windows/folder_access.hpp"
#include "app/windows/service_name.hpp"

namespace tamro {
namespace {

constexpr char display_name[] = "TAMRO monitoring agent";
constexpr char description[] =
    "Polls SNMP devices and posts their heartbeats to the management server.";
constexpr DWORD restart_delay_ms = 60 * 1000;
constexpr DWORD failure_count_reset_s = 24 * 60 * 60;
constexpr auto stop_timeout = std::chrono::seconds(30);
// The service's own virtual account: no password, no rights beyond what it is given here.
const std::string service_account = std::string("NT SERVICE\\") + service_name;

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

bool is_folder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string parent_folder(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(0, slash);
}

// Whether path is folder or lies inside it; both absolute.
bool is_within(const std::string& path, const std::string& folder) {
  std::string inner = lower(path) + "\\";
  std::string outer = lower(folder) + "\\";
  for (std::string* text : {&inner, &outer}) {
    std::replace(text->begin(), text->end(), '/', '\\');
    while (text->size() > 1 && text->compare(text->size() - 2, 2, "\\\\") == 0) text->pop_back();
  }
  return inner.compare(0, outer.size(), outer) == 0;
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

// The account starts with the privileges its group would give it; walking folders is all the
// agent needs. The service identifier in its token is what the folders' access lists name.
void limit_rights(SC_HANDLE service) {
  SERVICE_SID_INFO sid{SERVICE_SID_TYPE_UNRESTRICTED};
  if (!::ChangeServiceConfig2A(service, SERVICE_CONFIG_SERVICE_SID_INFO, &sid)) {
    std::cerr << "warning: the service manager did not take the service's own identifier: "
              << boost::system::system_category().message(static_cast<int>(::GetLastError()))
              << std::endl;
  }
  char privileges[] = "SeChangeNotifyPrivilege\0";  // a list: the literal adds the second zero
  SERVICE_REQUIRED_PRIVILEGES_INFOA required{privileges};
  if (!::ChangeServiceConfig2A(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required)) {
    std::cerr << "warning: the service manager did not limit the service's privileges: "
              << boost::system::system_category().message(static_cast<int>(::GetLastError()))
              << std::endl;
  }
}

// The home holds the communities and passphrases of a whole network: SYSTEM and the
// administrators have full control, the service may change what it holds, and nobody else
// may read it. The program may be run by users and the service, and changed only by SYSTEM
// and the administrators: a service running a file that a user can replace runs that user's
// code. A tamro.exe outside a bin folder (a build) is no installation and is left alone.
// Each list is printed, so that the installer's record shows what was set.
void protect_folders(const std::string& account_sid) {
  using entry = folder_access;
  const entry system{"NT AUTHORITY\\SYSTEM", "SY", entry::full_control};
  const entry administrators{"BUILTIN\\Administrators", "BA", entry::full_control};
  const std::string home = full_path(home_directory());
  const std::string bin = parent_folder(executable_path());
  if (lower(bin.substr(bin.find_last_of("\\/") + 1)) == "bin") {
    const std::string root = parent_folder(bin);
    const std::string program = is_within(root, home) ? bin : root;
    const std::vector<entry> access{system,
                                    administrators,
                                    {"BUILTIN\\Users", "BU", entry::read_and_execute},
                                    {service_account, account_sid, entry::read_and_execute}};
    protect_folder(program, access);
    std::cout << program << ": " << access_text(access) << ", not inherited" << std::endl;
  }
  if (!is_folder(home)) {
    std::cerr << "warning: the home " << home
              << " does not exist: the service needs it (or TAMRO_HOME set to another)"
              << std::endl;
    return;
  }
  const std::vector<entry> access{
      system, administrators, {service_account, account_sid, entry::modify}};
  protect_folder(home, access);
  std::cout << home << ": " << access_text(access) << ", not inherited" << std::endl;
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
                                  service_account.c_str(), nullptr));
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
    limit_rights(service.get());
    if (home_given) pass_home_on();
    const std::string account_sid = service_account_sid(service_name);
    std::cout << service_account << " is " << account_sid << std::endl;
    protect_folders(account_sid);
  } catch (...) {
    ::DeleteService(service.get());  // half a registration helps nobody
    throw;
  }
  std::cout << "service " << service_name << " installed, started automatically as "
            << service_account << ": " << line;
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
