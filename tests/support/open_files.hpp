#pragma once

namespace tamro::test {

// Raises this process's limit of open files (sockets included) to `count` where the system
// has such a limit; whether that many may be open.
bool allow_open_files(int count);

}  // namespace tamro::test
