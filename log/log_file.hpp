#pragma once

#include <string>

namespace tamro::log {

// Creates the log file when it is missing, for its owner and group alone (0640 on POSIX; on
// Windows it takes its folder's access list): at debug level it holds the server's replies.
// An existing file keeps its permissions; a failure is left to the open that follows.
void create_log_file(const std::string& path);

}  // namespace tamro::log
