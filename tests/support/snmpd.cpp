#include "tests/support/snmpd.hpp"

#include <signal.h>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace tamro::test {
namespace {

using std::chrono::milliseconds;

bool is_ipv6(const std::string& address) { return address.find(':') != std::string::npos; }

// "udp:127.0.0.1:PORT" or "udp6:[::1]:PORT": where snmpd listens and the tools ask.
std::string transport(const std::string& address, unsigned short port) {
  return is_ipv6(address) ? "udp6:[" + address + "]:" + std::to_string(port)
                          : "udp:" + address + ":" + std::to_string(port);
}

std::string configuration(const snmpd_options& o) {
  // IPv6 clients are granted access by directives of their own.
  const std::string family = is_ipv6(o.client_network) ? "6 " : " ";
  std::string text;
  text += "rocommunity" + family + o.community + " " + o.client_network + "\n";
  if (!o.write_community.empty()) {
    text += "rwcommunity" + family + o.write_community + " " + o.client_network + "\n";
  }
  text += "sysName " + o.sys_name + "\n";
  text += "sysLocation " + o.sys_location + "\n";
  text += "sysContact " + o.sys_contact + "\n";
  text += "dontLogTCPWrappersConnects yes\n";  // one line per request otherwise
  for (const auto& line : o.extra_lines) text += line + "\n";
  return text;
}

}  // namespace

snmpd::snmpd(snmpd_options options) : options_(std::move(options)), port_(free_port(SOCK_DGRAM)) {
  write_file(dir_.file("snmpd.conf"), configuration(options_));
  start();
}

void snmpd::start() {
  // With -C the daemon reads only the files named; its persistent state is one of them
  // once it has stopped.
  std::string files = child_path(dir_.file("snmpd.conf"));
  if (std::filesystem::exists(dir_.file("persist/snmpd.conf")))
    files += "," + child_path(dir_.file("persist/snmpd.conf"));
  process_ = std::make_unique<child_process>(
      std::vector<std::string>{TAMRO_SNMPD, "-f", "-Lo", "-C", "-c", files, "-p",
                               child_path(dir_.file("snmpd.pid")), "-M", child_path(dir_.path()),
                               "-m", "", transport(options_.listen_address, port_)},
      dir_.file("snmpd.out"),
      std::map<std::string, std::string>{{"SNMP_PERSISTENT_DIR", child_path(dir_.file("persist"))},
                                         {"SNMPCONFPATH", child_path(dir_.path())}});
  const bool ready = wait_until(
      [this] {
        if (!process_->running()) return true;
        int code = -1;
        run_tool({"snmpget", "-v2c", "-c", options_.community, "-t", "0.2", "-r", "0", peer(),
                  ".1.3.6.1.2.1.1.5.0"},
                 &code);
        return code == 0;
      },
      milliseconds(10000));
  if (!ready || !process_->running()) {
    throw std::runtime_error("snmpd did not start: " + process_->output());
  }
}

void snmpd::restart() {
  stop();
  start();
}

void snmpd::reset() {
  stop();
  std::filesystem::remove_all(dir_.file("persist"));
  start();
}

snmpd::~snmpd() { stop(); }

std::string snmpd::peer() const {
  if (is_ipv6(options_.listen_address)) return transport(options_.listen_address, port_);
  return "127.0.0.1:" + std::to_string(port_);
}

std::string snmpd::writable_integer(const std::string& oid, long initial) {
  return "override -rw " + oid + " integer " + std::to_string(initial);
}

void snmpd::set_integer(const std::string& oid, long value) const {
  int code = -1;
  const auto output = run_tool({"snmpset", "-v2c", "-c", options_.write_community, "-t", "1", "-r",
                                "1", peer(), oid, "i", std::to_string(value)},
                               &code);
  if (code != 0) throw std::runtime_error("snmpset " + oid + " failed: " + output);
}

std::string snmpd::get(const std::string& oid) const {
  int code = -1;
  auto output = run_tool(
      {"snmpget", "-v2c", "-c", options_.community, "-t", "1", "-r", "1", "-Oqv", peer(), oid},
      &code);
  if (code != 0) throw std::runtime_error("snmpget " + oid + " failed: " + output);
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  return output;
}

std::vector<std::string> snmpd::walk(const std::string& oid) const {
  int code = -1;
  const auto output = run_tool({"snmpwalk", "-v2c", "-c", options_.community, "-t", "1", "-r", "1",
                                "-On", "-Oq", peer(), oid},
                               &code);
  if (code != 0) throw std::runtime_error("snmpwalk " + oid + " failed: " + output);
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    for (auto quote = line.find('"'); quote != std::string::npos; quote = line.find('"'))
      line.erase(quote, 1);
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

void snmpd::stop() {
  if (!process_ || !process_->running()) return;
  process_->signal(SIGTERM);
  if (!process_->wait(milliseconds(3000))) process_->kill();
}

std::string snmpd::run_tool(const std::vector<std::string>& argv, int* exit_code) const {
  static std::atomic<int> counter{0};
  const auto output_file = dir_.file("tool-" + std::to_string(++counter) + ".out");
  std::vector<std::string> full{argv.front(), "-Ln", "-M", child_path(dir_.path()), "-m", ""};
  full.insert(full.end(), argv.begin() + 1, argv.end());
  child_process tool(full, output_file,
                     {{"SNMP_PERSISTENT_DIR", child_path(dir_.file("client"))},
                      {"SNMPCONFPATH", child_path(dir_.path())}});
  const auto code = tool.wait(milliseconds(10000));
  *exit_code = code ? *code : -1;
  return tool.output();
}

}  // namespace tamro::test
