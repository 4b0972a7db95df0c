// Throughput, CPU cost and memory of the SNMP service alone, against one local snmpd.
//
//   cmake -S . -B build && cmake --build build --target bench_snmp_service -j2 &&
//   build/bench/bench_snmp_service [--devices 100,1000,10000] [--seconds 10] [--single-address]
//                                  [--reuse-sessions] [--walk]
//
// For each device count N, in a fresh child process:
//  - memory: N requests in flight to a port that never answers; resident memory grown per
//    request (sessions, sockets' user-space state, operations, PDUs);
//  - throughput: N devices (127.1.x.y, or 127.0.0.1 with --single-address) each run one GET
//    of seven OIDs after the other for the given time, opening a session per request and
//    closing it first thing in the handler, as the poller does (--reuse-sessions: one session
//    per device, kept open); then every request in flight is left to complete. Prints
//    completions per second, errors, and CPU milliseconds per 1,000 requests of this process
//    (and of its reactor thread alone) and of snmpd, and per 1,000 values answered.
//    With --walk, each device walks six columns of the interface table instead (GETBULK of
//    25 rows, as a table mapping does), one walk after the other: compare CPU per 1,000
//    values with the GET run.
// snmpd listens on every local address with a community restricted to 127.0.0.0/8 and an
// 8 MiB receive buffer (bursts of thousands of requests would be dropped otherwise). With
// 10,000 requests queued at once even that overflows ("dropped": the machine's UDP receive
// buffer errors during the sweep; such requests end with a time-out after 5 s); a larger
// buffer needs net.core.rmem_max raised first. The run fails if any request never completes.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/property_tree/ptree.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "snmp/configure_snmp.hpp"
#include "snmp/oid.hpp"
#include "snmp/service.hpp"
#include "snmp/settings.hpp"
#include "snmp/table_walk.hpp"

namespace {

using namespace tamro;
using clock_type = std::chrono::steady_clock;

const std::set<std::string> system_group = {
    ".1.3.6.1.2.1.1.1.0", ".1.3.6.1.2.1.1.2.0", ".1.3.6.1.2.1.1.3.0", ".1.3.6.1.2.1.1.4.0",
    ".1.3.6.1.2.1.1.5.0", ".1.3.6.1.2.1.1.6.0", ".1.3.6.1.2.1.1.7.0"};

struct options {
  std::vector<int> devices{100, 1000, 10000};
  double seconds = 10;
  bool single_address = false;
  bool reuse_sessions = false;
  bool walk = false;
};

const std::set<std::string> interface_columns = {
    ".1.3.6.1.2.1.2.2.1.2", ".1.3.6.1.2.1.2.2.1.3",    ".1.3.6.1.2.1.2.2.1.6",
    ".1.3.6.1.2.1.2.2.1.8", ".1.3.6.1.2.1.31.1.1.1.6", ".1.3.6.1.2.1.31.1.1.1.10"};

options parse(int argc, char** argv) {
  options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--devices" && i + 1 < argc) {
      o.devices.clear();
      std::stringstream list(argv[++i]);
      for (std::string n; std::getline(list, n, ',');) o.devices.push_back(std::stoi(n));
    } else if (arg == "--seconds" && i + 1 < argc) {
      o.seconds = std::stod(argv[++i]);
    } else if (arg == "--single-address") {
      o.single_address = true;
    } else if (arg == "--reuse-sessions") {
      o.reuse_sessions = true;
    } else if (arg == "--walk") {
      o.walk = true;
    } else {
      throw std::runtime_error(
          "usage: bench_snmp_service [--devices N,N,...] [--seconds S] "
          "[--single-address] [--reuse-sessions] [--walk]");
    }
  }
  return o;
}

unsigned short free_udp_port() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// CPU time in milliseconds (user + system) from a /proc stat file.
double stat_cpu_ms(const std::string& path) {
  std::ifstream stat(path);
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
  double user = 0, system = 0;
  fields >> user >> system;
  return (user + system) * 1000.0 / ::sysconf(_SC_CLK_TCK);
}

double process_cpu_ms(pid_t pid) { return stat_cpu_ms("/proc/" + std::to_string(pid) + "/stat"); }

// CPU time in milliseconds of this process's threads other than the calling one: the SNMP
// reactor's.
double other_threads_cpu_ms() {
  double total = 0;
  DIR* folder = ::opendir("/proc/self/task");
  while (dirent* entry = folder != nullptr ? ::readdir(folder) : nullptr) {
    const int tid = std::atoi(entry->d_name);
    if (tid > 0 && tid != static_cast<int>(::gettid())) {
      total += stat_cpu_ms(std::string("/proc/self/task/") + entry->d_name + "/stat");
    }
  }
  if (folder != nullptr) ::closedir(folder);
  return total;
}

double own_cpu_ms() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
         usage.ru_stime.tv_usec / 1e3;
}

// Datagrams dropped for want of receive buffer, by any socket on this machine.
long udp_receive_buffer_errors() {
  std::ifstream snmp("/proc/net/snmp");
  std::string names, values;
  while (std::getline(snmp, names)) {
    if (names.rfind("Udp:", 0) == 0 && std::getline(snmp, values)) break;
  }
  std::istringstream n(names), v(values);
  std::string name, value;
  while (n >> name && v >> value) {
    if (name == "RcvbufErrors") return std::stol(value);
  }
  return 0;
}

long resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

std::string device_address(int index, bool single) {
  if (single) return "127.0.0.1";
  return "127.1." + std::to_string(index / 250) + "." + std::to_string(index % 250 + 1);
}

// Requests in flight to a port that never answers: memory per request.
double memory_per_request(snmp::service& service, boost::asio::io_context& io, int count) {
  const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);  // bound, never read
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string peer = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

  snmp::global_settings() = snmp::settings{60, 0};
  const long before = resident_bytes();
  std::vector<snmp::service::session_handle> sessions(count, nullptr);
  int completed = 0;
  for (auto& session : sessions) {
    boost::system::error_code error;
    service.open(error, session, 1, peer, "public");
    if (error) throw std::runtime_error("open: " + error.message());
    auto request = snmp::pdu::get_request();
    snmp::add_oids(request, system_group);
    service.async_send(session, request,
                       [&completed](const boost::system::error_code&, snmp::pdu*) { ++completed; });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200 + count / 20));  // all sent
  const long after = resident_bytes();
  for (auto& session : sessions) service.close(session);
  io.run();
  io.restart();
  ::close(silent);
  if (completed != count) throw std::runtime_error("memory phase lost requests");
  return static_cast<double>(after - before) / count;
}

struct sweep_result {
  long started = 0;
  long completed = 0;
  long errors = 0;
  long values = 0;
  double seconds = 0;
  double own_ms = 0;
  double reactor_ms = 0;
  double snmpd_ms = 0;
  long dropped = 0;
};

// Every device polls back to back for the given time, then the requests in flight finish.
sweep_result sweep(snmp::service& service, boost::asio::io_context& io, int count,
                   unsigned short port, const options& o, pid_t snmpd) {
  snmp::global_settings() = snmp::settings{5, 0};
  struct device {
    std::string peer;
    snmp::service::session_handle session = nullptr;
    std::unique_ptr<snmp::table_walk> walk;
  };
  std::vector<device> devices(count);
  for (int i = 0; i < count; ++i) {
    devices[i].peer = device_address(i, o.single_address) + ":" + std::to_string(port);
  }
  sweep_result result;
  bool running = true;
  std::function<void(int)> start;
  start = [&](int i) {
    if (devices[i].session == nullptr) {
      boost::system::error_code error;
      service.open(error, devices[i].session, 1, devices[i].peer, "public");
      if (error) throw std::runtime_error("open: " + error.message());
    }
    snmp::pdu request;
    if (o.walk) {
      if (!devices[i].walk)
        devices[i].walk = std::make_unique<snmp::table_walk>(interface_columns, 1, 10000);
      request = devices[i].walk->next_request();
    } else {
      request = snmp::pdu::get_request();
      snmp::add_oids(request, system_group);
    }
    ++result.started;
    service.async_send(devices[i].session, request,
                       [&, i](const boost::system::error_code& error, snmp::pdu* response) {
                         if (!o.reuse_sessions || !running) service.close(devices[i].session);
                         ++result.completed;
                         if (error || response == nullptr) {
                           ++result.errors;
                           devices[i].walk.reset();
                         } else if (!o.walk) {
                           result.values += static_cast<long>(system_group.size());
                         } else {
                           devices[i].walk->take(*response->get());
                           if (!devices[i].walk->new_failures().empty()) {
                             ++result.errors;
                             devices[i].walk.reset();
                           } else if (devices[i].walk->finished()) {
                             result.values += static_cast<long>(devices[i].walk->values().size());
                             devices[i].walk.reset();
                           }
                         }
                         if (running) start(i);
                       });
  };
  boost::asio::steady_timer stop_timer(io);
  const double own_start = own_cpu_ms();
  const double reactor_start = other_threads_cpu_ms();
  const double snmpd_start = process_cpu_ms(snmpd);
  const long dropped_start = udp_receive_buffer_errors();
  const auto begin = clock_type::now();
  for (int i = 0; i < count; ++i) start(i);
  stop_timer.expires_after(std::chrono::milliseconds(static_cast<long>(o.seconds * 1000)));
  stop_timer.async_wait([&](const boost::system::error_code&) { running = false; });
  io.run();  // ends once the last request in flight has completed
  io.restart();
  result.seconds = std::chrono::duration<double>(clock_type::now() - begin).count();
  result.own_ms = own_cpu_ms() - own_start;
  result.reactor_ms = other_threads_cpu_ms() - reactor_start;
  result.snmpd_ms = process_cpu_ms(snmpd) - snmpd_start;
  result.dropped = udp_receive_buffer_errors() - dropped_start;
  return result;
}

void measure(int count, unsigned short port, const options& o, pid_t snmpd,
             const std::string& folder) {
  boost::property_tree::ptree section;
  section.put("mib-directory", folder);
  section.put("persistent-directory", folder + "/persist");
  configure_snmp(section);
  boost::asio::io_context io;
  auto& service = boost::asio::use_service<snmp::service>(io);

  const double bytes = memory_per_request(service, io, count);
  const auto r = sweep(service, io, count, port, o, snmpd);
  if (r.completed != r.started) {
    throw std::runtime_error(std::to_string(r.started - r.completed) + " requests never completed");
  }
  std::printf(
      "%6d in flight: %7.0f %s/s %8ld completed %5ld errors (%ld dropped) | CPU ms per 1000: "
      "ours %5.1f "
      "(reactor thread %5.1f), snmpd %5.1f | per 1000 values: ours %5.2f | %5.1f KB per "
      "request in flight\n",
      count, r.completed / r.seconds, o.walk ? "GETBULKs" : "GETs", r.completed, r.errors,
      r.dropped, r.own_ms * 1000.0 / r.completed, r.reactor_ms * 1000.0 / r.completed,
      r.snmpd_ms * 1000.0 / r.completed, r.values > 0 ? r.own_ms * 1000.0 / r.values : 0.0,
      bytes / 1024.0);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const options o = parse(argc, argv);
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);

    char folder_template[] = "/tmp/tamro-bench-XXXXXX";
    const std::string folder = ::mkdtemp(folder_template);
    const std::string configuration = folder + "/snmpd.conf";
    std::ofstream(configuration) << "rocommunity public 127.0.0.0/8\n"
                                    "dontLogTCPWrappersConnects yes\n"
                                    "[snmp] serverRecvBuf 8388608\n";
    const unsigned short port = free_udp_port();
    const std::string listen =
        (o.single_address ? "udp:127.0.0.1:" : "udp:0.0.0.0:") + std::to_string(port);
    const pid_t snmpd = ::fork();
    if (snmpd == 0) {
      ::setenv("SNMP_PERSISTENT_DIR", (folder + "/persist-snmpd").c_str(), 1);
      const std::string log = folder + "/snmpd.out";
      std::freopen(log.c_str(), "w", stdout);
      std::freopen(log.c_str(), "a", stderr);
      ::execl("/usr/sbin/snmpd", "snmpd", "-f", "-Lo", "-C", "-c", configuration.c_str(), "-M",
              folder.c_str(), "-m", "", listen.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::printf("snmpd pid %d on %s; descriptor limit %lu\n", snmpd, listen.c_str(),
                static_cast<unsigned long>(limit.rlim_cur));
    std::fflush(stdout);  // or each child repeats the buffered line

    int status = 0;
    for (const int count : o.devices) {
      // A fresh process per size, so the memory figure is not flattered by earlier frees.
      const pid_t child = ::fork();
      if (child == 0) {
        try {
          measure(count, port, o, snmpd, folder);
          ::_exit(0);
        } catch (const std::exception& e) {
          std::fprintf(stderr, "%d devices: %s\n", count, e.what());
          ::_exit(1);
        }
      }
      int child_status = 0;
      ::waitpid(child, &child_status, 0);
      if (child_status != 0) status = 1;
    }
    ::kill(snmpd, SIGTERM);
    ::waitpid(snmpd, nullptr, 0);
    std::system(("rm -rf " + folder).c_str());
    return status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_snmp_service: %s\n", e.what());
    return 1;
  }
}
