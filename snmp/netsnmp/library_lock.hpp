#pragma once

#include <mutex>

namespace tamro::netsnmp {

// Debian's library is built without its thread-safety option: request ids, the MIB tree,
// error texts and the transports are process-wide state. Every call into it holds this one
// lock, whichever thread makes it (the I/O thread builds requests and reads OIDs, each
// reactor's thread reads answers).
std::mutex& library_mutex();

}  // namespace tamro::netsnmp
