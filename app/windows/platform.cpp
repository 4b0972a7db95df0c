#include "app/platform.hpp"

// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

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

namespace {

boost::asio::ip::address socket_address(const SOCKET_ADDRESS& address) {
  if (address.lpSockaddr->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(address.lpSockaddr);
    return boost::asio::ip::address_v4(ntohl(in->sin_addr.s_addr));
  }
  const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address.lpSockaddr);
  boost::asio::ip::address_v6::bytes_type bytes;
  std::memcpy(bytes.data(), in6->sin6_addr.s6_addr, bytes.size());
  return boost::asio::ip::address_v6(bytes, in6->sin6_scope_id);
}

}  // namespace

std::vector<network_interface> network_interfaces() {
  std::vector<network_interface> interfaces;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  // The list may grow between the call that sizes it and the one that fills it.
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = ::GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return interfaces;
  for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
       adapter = adapter->Next) {
    network_interface known;
    known.name = adapter->AdapterName ? adapter->AdapterName : "";
    known.up = adapter->OperStatus == IfOperStatusUp;
    known.loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    if (adapter->PhysicalAddressLength == 6)
      known.hardware_address.assign(reinterpret_cast<const char*>(adapter->PhysicalAddress), 6);
    for (const auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
      const auto family = unicast->Address.lpSockaddr ? unicast->Address.lpSockaddr->sa_family : 0;
      if (family == AF_INET || family == AF_INET6)
        known.addresses.push_back(socket_address(unicast->Address));
    }
    interfaces.push_back(std::move(known));
  }
  return interfaces;
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
