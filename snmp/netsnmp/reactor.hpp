#pragma once

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "snmp/netsnmp/reactor_op.hpp"
#include "snmp/netsnmp/socket_waiter.hpp"
#include "snmp/netsnmp/usm_session.hpp"

struct snmp_session;
typedef struct snmp_session netsnmp_session;

namespace tamro::netsnmp {

// Owns the library calls for the sessions opened through it. A request is sent at once by the
// thread that starts it (on an SNMPv3 session whose keys are still being derived, by the
// reactor's thread once they are); the reactor's own thread waits on the sockets of all open
// sessions,
// reads only the ready ones, processes time-outs at the earliest deadline, and hands
// finished requests to the I/O service as handlers. The library's lock guards the
// table, every operation in it and every library call on a session; handlers never run
// under it.
class reactor {
 public:
  using session_handle = void*;

  explicit reactor(boost::asio::io_context& context);
  ~reactor();  // stops the thread; what is left is freed without calling handlers
  reactor(const reactor&) = delete;
  reactor& operator=(const reactor&) = delete;

  // The calls below run on the thread that runs the I/O service.

  // Opens a library session and watches it, under the lock like every other library call
  // (the library is not built to be called from two threads at once). Null when the library
  // refuses (parameters.s_snmp_errno and errno say why) or the socket cannot be watched.
  // An SNMPv3 session comes with its user-based security.
  session_handle open(netsnmp_session& parameters, std::unique_ptr<usm_session> usm);
  // Takes the operation, counts it as outstanding work and sends it.
  void start(reactor_op* op);
  // Every operation of the session completes with -22.
  void cancel(session_handle session);
  // Takes the session out of the table (its operations complete with -22) before the library
  // session is closed, so the reactor thread never uses a closed session.
  void close(session_handle session);
  // The stop drain: ends the thread and completes every operation with -22 through the I/O
  // service; later starts complete with -22 at once.
  void stop();
  // The I/O service is going away: ends the thread and frees every operation without
  // calling its handler.
  void abandon();
  // Master keys were derived: the requests waiting for them go out. Any thread.
  void keys_derived();

 private:
  using clock = std::chrono::steady_clock;
  using op_list = std::vector<reactor_op*>;

  struct session_entry {
    session_handle handle = nullptr;
    std::uint64_t serial = 0;  // never reused, so a stale readiness report finds nothing
    int socket = -1;
    bool touched = false;
    bool held = false;                 // requests wait in `queued` for the keys
    std::unique_ptr<usm_session> usm;  // SNMPv3
    std::vector<reactor_op*> ops;      // in start order
    std::optional<clock::time_point> deadline;
  };
  struct fd_sets;

  void run();
  bool run_once();
  session_entry* find_or_add(session_handle session);
  void send(session_entry& entry, reactor_op* op);
  void send_held();
  void read_ready();
  void expire_deadlines();
  void collect(op_list& completions);
  bool refresh_deadline(session_entry& entry);
  void clear_deadline(session_entry& entry);
  int wait_milliseconds() const;
  void touch(session_entry& entry);
  void erase(session_entry& entry);
  bool request_interrupt();
  // Sets a flag of the thread's under the lock and wakes the thread to see it.
  void raise(bool& flag);
  void halt();
  void take_all(op_list& ops);
  void post(reactor_op* op);
  void post(op_list& ops);

  static int library_callback(int operation, snmp_session* session, int request_id,
                              netsnmp_pdu* pdu, void* magic);
  static int after_parse(netsnmp_session* session, netsnmp_pdu* pdu, int result);
  static thread_local session_entry* entry_in_call_;
  static thread_local bool reading_;  // the call in progress is a read

  boost::asio::io_context& context_;
  std::mutex& mutex_;  // the library's, shared by every reactor
  std::unordered_map<session_handle, session_entry> table_;
  std::unordered_map<std::uint64_t, session_entry*> by_serial_;
  std::set<std::pair<clock::time_point, std::uint64_t>> deadlines_;
  std::vector<std::uint64_t> touched_;
  std::vector<std::uint64_t> held_;   // sessions with requests waiting for their keys
  std::vector<std::uint64_t> ready_;  // reactor thread only
  op_list completions_;               // reactor thread only
  std::uint64_t last_serial_ = 0;
  std::uintptr_t last_op_id_ = 0;
  clock::time_point wake_at_ = clock::time_point::max();  // latest wake-up of the thread
  bool stopped_ = false;
  bool interrupt_pending_ = false;
  bool keys_derived_ = false;
  std::unique_ptr<fd_sets> fd_sets_;
  socket_waiter waiter_;
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace tamro::netsnmp
