#pragma once

#include <sys/types.h>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro::test {

struct snmpd_options {
  std::string community = "public";  // read-only
  std::string write_community = "private";
  std::string sys_name = "tamro-test-device";
  std::string sys_location = "test bench";
  std::string sys_contact = "nobody@example.invalid";
  // "0.0.0.0" answers on every loopback address, "::1" on the IPv6 one.
  std::string listen_address = "127.0.0.1";
  std::string client_network = "127.0.0.0/8";  // who may use the communities ("::1/128" for IPv6)
  std::vector<std::string> extra_lines;        // appended to the generated snmpd.conf
};

// A real snmpd on a free UDP port with its own configuration and persistent folder, started
// in the foreground and ready to answer when the constructor returns; killed by PID at the
// end. The snmpget and snmpset tools talk to it.
class snmpd {
 public:
  explicit snmpd(snmpd_options options = {});
  ~snmpd();
  snmpd(const snmpd&) = delete;
  snmpd& operator=(const snmpd&) = delete;

  unsigned short port() const { return port_; }
  std::string peer() const;  // "127.0.0.1:PORT" or "udp6:[::1]:PORT", for an SNMP session
  pid_t pid() const { return process_->pid(); }
  std::string output() const { return process_->output(); }
  const snmpd_options& options() const { return options_; }

  // A configuration line (for extra_lines) that makes `oid` an INTEGER readable with the
  // community and writable with the write community, starting at `initial`.
  static std::string writable_integer(const std::string& oid, long initial);

  // Sets an INTEGER with snmpset; throws std::runtime_error with the tool's output on failure.
  void set_integer(const std::string& oid, long value) const;
  // The value of one OID as snmpget prints it alone (-Oqv); throws on failure.
  std::string get(const std::string& oid) const;

  // The lines snmpwalk prints for a subtree (-On -Oq): ".1.3.6.1.2.1.2.2.1.2.1 lo", strings
  // without their quotes; throws on failure.
  std::vector<std::string> walk(const std::string& oid) const;

  // Ends the daemon with SIGTERM (SIGKILL if it lingers).
  void stop();
  // Stops it and starts it again on the same port with its persistent state, as a device
  // reboots: the same SNMPv3 engine ID, its boot count one higher.
  void restart();
  // The same without its persistent state: another SNMPv3 engine ID, as a device replaced.
  void reset();

 private:
  void start();
  std::string run_tool(const std::vector<std::string>& argv, int* exit_code) const;

  temp_dir dir_;
  snmpd_options options_;
  unsigned short port_;
  std::unique_ptr<child_process> process_;
};

}  // namespace tamro::test
