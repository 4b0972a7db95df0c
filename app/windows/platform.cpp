#include "app/platform.hpp"

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <iphlpapi.h>
#include <windows.h>

#include <shlobj.h>

#include <io.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace tamro::platform {

// The program lives in Program Files; what it reads and writes, in ProgramData. Asked of
// the shell, as the installer does: a service's environment need not name the folder.
const char* default_home() {
  static const std::string home = [] {
    char folder[MAX_PATH];
    if (SUCCEEDED(
            ::SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
      return std::string(folder) + "\\TAMRO";
    return std::string("C:\\ProgramData\\TAMRO");
  }();
  return home.c_str();
}

// The home text is used unchanged: "D:\agent\" gives "D:\agent\\config\...".
std::string home_path(const std::string& home, const char* relative) {
  std::string path = home + "\\" + relative;
  for (std::size_t i = home.size(); i < path.size(); ++i) {
    if (path[i] == '/') path[i] = '\\';
  }
  return path;
}

int reload_signal() { return SIGBREAK; }

std::string first_adapter_hardware_address() {
  ULONG size = 0;
  if (::GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW) {
    throw std::runtime_error("GetAdaptersInfo failed");
  }
  std::vector<unsigned char> buffer(size);
  auto* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  if (::GetAdaptersInfo(adapters, &size) != NO_ERROR || adapters->AddressLength < 6) {
    throw std::runtime_error("GetAdaptersInfo failed");
  }
  return std::string(reinterpret_cast<const char*>(adapters->Address), 6);
}

std::vector<std::string> interface_ipv4_addresses() {
  std::vector<std::string> addresses;
  ULONG size = 0;
  if (::GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW) return addresses;
  std::vector<unsigned char> buffer(size);
  auto* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  if (::GetAdaptersInfo(adapters, &size) != NO_ERROR) return addresses;
  for (const IP_ADAPTER_INFO* adapter = adapters; adapter; adapter = adapter->Next) {
    for (const IP_ADDR_STRING* ip = &adapter->IpAddressList; ip; ip = ip->Next) {
      const std::string text = ip->IpAddress.String;
      if (!text.empty() && text != "0.0.0.0" && text.rfind("127.", 0) != 0)
        addresses.push_back(text);
    }
  }
  return addresses;
}

// The journal is systemd's.
bool console_is_journal() { return false; }

// Folders carry no write bit on Windows: a missing file's folder need only exist.
std::string write_access_problem(const std::string& path) {
  if (::_access(path.c_str(), 0) == 0)
    return ::_access(path.c_str(), 2) == 0 ? "" : std::strerror(errno);
  const auto slash = path.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  return ::_access(folder.c_str(), 0) == 0 ? "" : folder + ": " + std::strerror(errno);
}

// Windows reuses a listening port after a restart without help.
void set_listener_options(boost::asio::ip::tcp::acceptor& acceptor) {
  const BOOL on = TRUE;
  if (::setsockopt(acceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&on), sizeof on) != 0)
    throw boost::system::system_error(::WSAGetLastError(), boost::system::system_category(),
                                      "SO_EXCLUSIVEADDRUSE");
}

// The C runtime's descriptor table is not what limits sockets on Windows.
void raise_open_file_limit() {}

}  // namespace tamro::platform
