#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>
#include <cstdint>
#include <optional>

#include "snmp/netsnmp/types.hpp"

namespace tamro::netsnmp {

// One request on one session, from the start of the send to its completion on the I/O
// service. Its fields are guarded by the reactor's mutex until it is handed to the I/O
// service for completion.
class reactor_op {
 public:
  using session_handle = void*;
  using work_guard = boost::asio::executor_work_guard<boost::asio::io_context::executor_type>;

  enum op_state : int {
    queued = 0,     // not sent yet
    sent = 1,       // waiting for the library
    received = 2,   // answered; `response` holds a copy of the answer (or nothing)
    timed_out = 3,  // no answer within the time-out and retries
    cancelled = 4,  // cancel, close or shutdown
    failed = 5,     // the library refused or failed the send; `library_error` says why
  };

  reactor_op(const reactor_op&) = delete;
  reactor_op& operator=(const reactor_op&) = delete;
  virtual ~reactor_op();  // frees the PDUs still held; the handler is dropped uncalled

  // Frees the operation, then calls its handler. On a thread running the I/O service.
  virtual void complete() = 0;

  // The completion's error code for the final state.
  boost::system::error_code result() const;
  bool finished() const { return state >= received; }

  session_handle session;
  op_state state = queued;
  netsnmp_pdu* request;             // owned until the library takes it
  netsnmp_pdu* response = nullptr;  // owned
  int library_error = 0;
  std::uint64_t id = 0;  // identifies the request in library callbacks; 0 until sent
  // Keeps the I/O service's run() from returning while the request is outstanding.
  std::optional<work_guard> work;

 protected:
  reactor_op(session_handle session, netsnmp_pdu* request) : session(session), request(request) {}
};

}  // namespace tamro::netsnmp
