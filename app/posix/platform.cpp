#include "app/platform.hpp"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace tamro::platform {

// SO_REUSEADDR only lets a new listener past connections of an old one in TIME_WAIT: a port
// that a process listens on stays its own.
void set_listener_options(boost::asio::ip::tcp::acceptor& acceptor) {
  acceptor.set_option(boost::asio::socket_base::reuse_address(true));
}

const char* default_home() { return "/opt/tamro"; }

std::string home_path(const std::string& home, const char* relative) {
  return home + "/" + relative;
}

int reload_signal() { return SIGHUP; }

std::string first_adapter_hardware_address() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) throw std::runtime_error("getifaddrs failed");
  std::string address;
  for (const ifaddrs* entry = list; entry && address.empty(); entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_PACKET) continue;
    if (entry->ifa_flags & IFF_LOOPBACK) continue;
    const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
    if (link->sll_halen == 6) address.assign(reinterpret_cast<const char*>(link->sll_addr), 6);
  }
  ::freeifaddrs(list);
  if (address.empty()) throw std::runtime_error("no network adapter with a hardware address");
  return address;
}

std::vector<std::string> interface_ipv4_addresses() {
  std::vector<std::string> addresses;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return addresses;
  for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    if (entry->ifa_flags & IFF_LOOPBACK) continue;
    char text[INET_ADDRSTRLEN];
    const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) addresses.emplace_back(text);
  }
  ::freeifaddrs(list);
  return addresses;
}

bool console_is_journal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  unsigned long long device = 0, inode = 0;
  if (!stream || std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat out {};
  return ::fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == device && out.st_ino == inode;
}

std::string write_access_problem(const std::string& path) {
  if (::access(path.c_str(), F_OK) == 0)
    return ::access(path.c_str(), W_OK) == 0 ? "" : std::strerror(errno);
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  return ::access(folder.c_str(), W_OK | X_OK) == 0 ? "" : folder + ": " + std::strerror(errno);
}

void raise_open_file_limit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace tamro::platform
