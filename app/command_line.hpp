#pragma once

#include <optional>
#include <string>

namespace tamro {

// What the command line asked for, after the first matching option in the order
// help, version, the rest.
struct command_line {
  bool help = false;
  bool version = false;
  bool verbose = false;
  bool foreground = false;
  bool check = false;  // load everything, report each problem, exit
  bool once = false;   // poll everything once, print the heartbeats, exit
  bool post = false;   // with once: post the heartbeats and print the replies
  // Windows: register with the service manager (with the configuration given), or remove.
  bool install_service = false;
  bool remove_service = false;
  std::optional<std::string> configuration;
  std::string help_text;  // the formatted options group, for help
};

// Parses argv; throws the options library's exception for an unknown option or a missing
// argument.
command_line parse_command_line(int argc, const char* const argv[]);

}  // namespace tamro
