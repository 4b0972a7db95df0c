#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/temp_dir.hpp"

namespace tamro::test {

// A home folder with a configuration, template, mappings and devices file that load, for
// runs of the agent binary. Parts of the configuration can be replaced before writing.
struct agent_files {
  temp_dir home;
  std::string server_uri = "http://127.0.0.1:9/heartbeat";
  std::string logging = "<level>debug</level>";
  std::string agent_extra;
  std::string snmp = "<timeout>1</timeout>";
  std::string reporting =
      "<ip-address>127.0.0.1</ip-address><mac-address>00:1A:2B:3C:4D:5E</mac-address>";
  std::string comment = "<!-- kept across write-backs -->";
  std::string mappings = "<mappings version=\"1.0\"/>\n";
  std::string devices = "<devices/>\n";

  // One device at ADDRESS:PORT (community public, v2c), polled every second for its sysName
  // with the mapping "system".
  void poll_one_device(const std::string& address, unsigned short port);

  std::string configuration_file() const { return home.file("configuration.xml"); }
  std::string log_file() const { return home.file("tamro.log"); }
  void write() const;
  std::string log() const { return read_file(log_file()); }
};

struct finished_run {
  int exit_code;  // -1 when it did not end within a minute
  std::string output;
};

// Runs the agent binary on the files' configuration with the options, to its end.
finished_run run_tamro(const agent_files& files, const std::vector<std::string>& options);

}  // namespace tamro::test
