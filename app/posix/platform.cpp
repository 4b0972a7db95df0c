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

namespace {

network_interface& interface_named(std::vector<network_interface>& interfaces, const char* name) {
  for (network_interface& known : interfaces)
    if (known.name == name) return known;
  network_interface added;
  added.name = name;
  return interfaces.emplace_back(std::move(added));
}

}  // namespace

// getifaddrs lists an interface once per address family: its link entry (the hardware
// address) and one entry per IP address.
std::vector<network_interface> network_interfaces() {
  std::vector<network_interface> interfaces;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return interfaces;
  for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_name) continue;
    network_interface& known = interface_named(interfaces, entry->ifa_name);
    known.up = (entry->ifa_flags & IFF_UP) && (entry->ifa_flags & IFF_RUNNING);
    known.loopback = entry->ifa_flags & IFF_LOOPBACK;
    if (!entry->ifa_addr) continue;
    switch (entry->ifa_addr->sa_family) {
      case AF_PACKET: {
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        if (link->sll_halen == 6)
          known.hardware_address.assign(reinterpret_cast<const char*>(link->sll_addr), 6);
        break;
      }
      case AF_INET: {
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        known.addresses.push_back(boost::asio::ip::address_v4(ntohl(in->sin_addr.s_addr)));
        break;
      }
      case AF_INET6: {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
        boost::asio::ip::address_v6::bytes_type bytes;
        std::memcpy(bytes.data(), in6->sin6_addr.s6_addr, bytes.size());
        known.addresses.push_back(boost::asio::ip::address_v6(bytes, in6->sin6_scope_id));
        break;
      }
      default:
        break;
    }
  }
  ::freeifaddrs(list);
  return interfaces;
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
