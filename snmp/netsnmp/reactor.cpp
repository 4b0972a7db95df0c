#include "snmp/netsnmp/reactor.hpp"

#include <boost/asio/post.hpp>
#include <cerrno>
#include <climits>
#include <memory>
#include <utility>

#include "log/logger.hpp"
#include "snmp/netsnmp/error_category.hpp"
#include "snmp/netsnmp/library.hpp"
#include "snmp/netsnmp/library_lock.hpp"

namespace tamro::netsnmp {

// The library wants descriptor sets for reads and select information; ours only ever hold the
// one socket of the call, and grow with the largest descriptor number.
struct reactor::fd_sets {
  netsnmp_large_fd_set read;
  netsnmp_large_fd_set scratch;
  fd_sets() {
    netsnmp_large_fd_set_init(&read, FD_SETSIZE);
    netsnmp_large_fd_set_init(&scratch, FD_SETSIZE);
  }
  ~fd_sets() {
    netsnmp_large_fd_set_cleanup(&read);
    netsnmp_large_fd_set_cleanup(&scratch);
  }
};

namespace {

constexpr auto batch_interval = std::chrono::milliseconds(2);

// The library frees the answer when the callback returns. Rather than copying every value,
// copy the header and move the variables over: the library frees what is left.
netsnmp_pdu* take_response(netsnmp_pdu* pdu) {
  if (pdu == nullptr) return nullptr;
  netsnmp_pdu* copy = pdu->command == SNMP_MSG_RESPONSE ? snmp_split_pdu(pdu, 0, 0) : nullptr;
  if (copy == nullptr) return snmp_clone_pdu(pdu);
  snmp_free_varbind(std::exchange(copy->variables, pdu->variables));
  pdu->variables = nullptr;
  return copy;
}

// The code of what the library failed, with its text kept (the lock is held).
int session_error(const snmp_session* session) {
  return library_error(session != nullptr && session->s_snmp_errno != 0 ? session->s_snmp_errno
                                                                        : SNMPERR_GENERR)
      .value();
}

}  // namespace

// Set around each library call made under the mutex (a send on the starting thread, reads and
// time-outs on the reactor thread), so the callback knows the session's operations. Empty
// otherwise: a callback from a session close only concerns requests already handed over.
thread_local reactor::session_entry* reactor::entry_in_call_ = nullptr;
thread_local bool reactor::reading_ = false;

reactor::reactor(boost::asio::io_context& context)
    : context_(context),
      mutex_(library_mutex()),
      fd_sets_(std::make_unique<fd_sets>()),
      thread_([this] { run(); }) {
  std::lock_guard<std::mutex> lock(mutex_);
  keep_library_texts();
}

reactor::~reactor() {
  halt();
  op_list ops;
  take_all(ops);
  for (auto* op : ops) delete op;
}

reactor::session_handle reactor::open(netsnmp_session& parameters,
                                      std::unique_ptr<usm_session> usm) {
  std::lock_guard<std::mutex> lock(mutex_);
  errno = 0;
  // What snmp_sess_open does for UDP, with a hook after each parse: it sees the reports the
  // library drops.
  netsnmp_transport* transport = netsnmp_tdomain_transport_full(
      "snmp", parameters.peername, parameters.local_port, "udp,udp6", nullptr);
  if (transport == nullptr) {
    parameters.s_snmp_errno = SNMPERR_BAD_ADDRESS;
    parameters.s_errno = errno;
    snmp_set_detail(parameters.peername);
  }
  session_handle session =
      transport != nullptr ? snmp_sess_add(&parameters, transport, nullptr, &after_parse) : nullptr;
  if (session == nullptr) {
    library_error(parameters.s_snmp_errno);  // the text with the detail of this failure
    return nullptr;
  }
  // The library clears this flag once the session is open, and would then discover an
  // engine at the first send by waiting for the answer, on the sending thread and under the
  // lock: discovery is a request of its own here, like any other.
  snmp_sess_session(session)->flags |= SNMP_FLAGS_DONT_PROBE;
  session_entry* entry = stopped_ ? nullptr : find_or_add(session);
  if (entry != nullptr) {
    entry->usm = std::move(usm);
    return session;
  }
  if (stopped_) return session;
  snmp_sess_close(session);
  parameters.s_snmp_errno = library_error(SNMPERR_GENERR).value();
  errno = 0;
  return nullptr;
}

reactor::session_entry* reactor::find_or_add(session_handle session) {
  const auto found = table_.find(session);
  if (found != table_.end()) return &found->second;
  netsnmp_transport* transport = session != nullptr ? snmp_sess_transport(session) : nullptr;
  if (transport == nullptr) return nullptr;
  const auto serial = ++last_serial_;
  // Reads must never block the thread, even after a stale readiness report.
  socket_waiter::make_non_blocking(transport->sock);
  if (!waiter_.watch(transport->sock, serial)) {
    log_error("SNMP reactor cannot watch a session socket");
    return nullptr;
  }
  session_entry& entry = table_[session];
  entry.handle = session;
  entry.serial = serial;
  entry.socket = transport->sock;
  by_serial_.emplace(serial, &entry);
  return &entry;
}

void reactor::start(reactor_op* op) {
  op->work.emplace(context_.get_executor());
  bool interrupt = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    session_entry* entry = stopped_ ? nullptr : find_or_add(op->session);
    if (entry == nullptr) {
      op->state = stopped_ ? reactor_op::cancelled : reactor_op::failed;
      op->library_error = error::bad_session;
    } else if (entry->usm && !entry->usm->keys_ready()) {
      // Sent by the reactor's thread once the keys are derived: a discovery too, so that its
      // answer finds them.
      entry->ops.push_back(op);
      op = nullptr;
      if (!std::exchange(entry->held, true)) held_.push_back(entry->serial);
    } else {
      // Sent here rather than by the reactor thread: no wake-up per request, and requests on
      // one session leave in start order.
      entry->ops.push_back(op);
      send(*entry, op);
      if (op->state == reactor_op::sent && !refresh_deadline(*entry)) {
        op->state = reactor_op::failed;
        op->library_error = library_error(SNMPERR_GENERR).value();
      }
      if (op->finished()) {
        entry->ops.pop_back();
      } else {
        op = nullptr;
        // The thread need only be woken when it would sleep past this request's deadline.
        if (entry->deadline && *entry->deadline < wake_at_) {
          wake_at_ = *entry->deadline;
          interrupt = request_interrupt();
        }
      }
    }
  }
  if (op != nullptr) post(op);
  if (interrupt) waiter_.interrupt();
}

void reactor::cancel(session_handle session) {
  op_list ops;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = table_.find(session);
    if (found == table_.end()) return;
    // The library keeps the requests until it times them out; its callbacks for them then
    // find no operation.
    for (auto* op : found->second.ops) {
      if (!op->finished()) op->state = reactor_op::cancelled;
      ops.push_back(op);
    }
    found->second.ops.clear();
  }
  post(ops);
}

void reactor::close(session_handle session) {
  op_list ops;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = table_.find(session);
    if (found != table_.end()) {
      for (auto* op : found->second.ops) {
        if (!op->finished()) op->state = reactor_op::cancelled;
        ops.push_back(op);
      }
      erase(found->second);
    }
    // The reactor no longer knows the session, and closing its socket also ends the watch.
    // The library calls back for the requests it still holds; those calls find no entry on
    // this thread and do nothing.
    snmp_sess_close(session);
  }
  post(ops);
}

void reactor::stop() {
  halt();
  op_list ops;
  take_all(ops);
  post(ops);
}

void reactor::abandon() {
  halt();
  op_list ops;
  take_all(ops);
  for (auto* op : ops) delete op;
}

void reactor::keys_derived() { raise(keys_derived_); }

void reactor::raise(bool& flag) {
  bool interrupt = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    flag = true;
    interrupt = request_interrupt();
  }
  if (interrupt) waiter_.interrupt();
}

void reactor::halt() {
  raise(stopped_);
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void reactor::take_all(op_list& ops) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [handle, entry] : table_) {
    if (entry.usm) entry.usm->release();
    for (auto* op : entry.ops) {
      if (!op->finished()) op->state = reactor_op::cancelled;
      ops.push_back(op);
    }
  }
  table_.clear();
  by_serial_.clear();
  deadlines_.clear();
  touched_.clear();
  held_.clear();
}

namespace {

// Owns the operation until it runs, so that an I/O service destroyed first frees it.
class completion {
 public:
  explicit completion(reactor_op* op) : op_(op) {}
  void operator()() { op_.release()->complete(); }

 private:
  std::unique_ptr<reactor_op> op_;
};

}  // namespace

void reactor::post(reactor_op* op) { boost::asio::post(context_, completion(op)); }

// One handler per operation: a handler that throws leaves the others queued.
void reactor::post(op_list& ops) {
  for (auto* op : ops) post(op);
  ops.clear();
}

bool reactor::request_interrupt() {
  // One pending wake-up is enough however many starts come before the thread runs.
  if (interrupt_pending_) return false;
  interrupt_pending_ = true;
  return true;
}

void reactor::run() {
  while (run_once()) {
  }
}

bool reactor::run_once() {
  int wait = -1;
  const auto pass_start = clock::now();
  const bool busy = !ready_.empty();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A wake-up asked for from here on interrupts the coming wait (which consumes it).
    interrupt_pending_ = false;
    if (stopped_) return false;
    if (std::exchange(keys_derived_, false)) send_held();
    read_ready();
    expire_deadlines();
    collect(completions_);
    wait = wait_milliseconds();
    wake_at_ = deadlines_.empty() ? clock::time_point::max() : deadlines_.begin()->first;
  }
  post(completions_);
  if (busy) {
    // Under load, answers come in a steady stream: gathering them for a moment before the
    // next wait handles many per wake-up (of this thread and of the I/O service's) instead of
    // one or two. An answer waits at most this long; time-outs are unaffected.
    std::this_thread::sleep_until(pass_start + batch_interval);
  }
  waiter_.wait(wait, ready_);
  return true;
}

void reactor::send(session_entry& entry, reactor_op* op) {
  op->id = ++last_op_id_;
  if (entry.usm) {
    if (const int refused = entry.usm->prepare(*snmp_sess_session(entry.handle))) {
      op->state = reactor_op::failed;
      op->library_error = library_error(refused).value();
      return;
    }
  }
  entry_in_call_ = &entry;
  const int request_id = snmp_sess_async_send(entry.handle, op->request, &reactor::library_callback,
                                              reinterpret_cast<void*>(op->id));
  entry_in_call_ = nullptr;
  if (request_id != 0) {
    op->request = nullptr;  // the library owns it now
    if (op->state == reactor_op::queued) op->state = reactor_op::sent;
  } else if (op->state == reactor_op::queued) {
    // Refused without a callback. The request stays ours and is freed with the operation.
    op->state = reactor_op::failed;
    op->library_error = session_error(snmp_sess_session(entry.handle));
  }
}

void reactor::send_held() {
  auto kept = held_.begin();
  for (const auto serial : held_) {
    const auto found = by_serial_.find(serial);
    if (found == by_serial_.end()) continue;  // closed meanwhile
    session_entry& entry = *found->second;
    if (!entry.usm->keys_ready()) {
      *kept++ = serial;
      continue;
    }
    entry.held = false;
    for (auto* op : entry.ops)
      if (op->state == reactor_op::queued) send(entry, op);
    touch(entry);  // collect() takes the deadline, or completes what failed
  }
  held_.erase(kept, held_.end());
}

void reactor::read_ready() {
  for (const auto serial : ready_) {
    const auto found = by_serial_.find(serial);
    if (found == by_serial_.end()) continue;  // closed since the wait returned
    session_entry& entry = *found->second;
    NETSNMP_LARGE_FD_SET(entry.socket, &fd_sets_->read);
    entry_in_call_ = &entry;
    reading_ = true;
    snmp_sess_read2(entry.handle, &fd_sets_->read);
    reading_ = false;
    entry_in_call_ = nullptr;
    NETSNMP_LARGE_FD_CLR(entry.socket, &fd_sets_->read);
    touch(entry);
  }
  ready_.clear();
}

void reactor::expire_deadlines() {
  const auto now = clock::now();
  while (!deadlines_.empty() && deadlines_.begin()->first <= now) {
    const auto serial = deadlines_.begin()->second;
    deadlines_.erase(deadlines_.begin());
    session_entry& entry = *by_serial_.at(serial);
    entry.deadline.reset();
    entry_in_call_ = &entry;
    snmp_sess_timeout(entry.handle);  // re-sends or times out the expired requests
    entry_in_call_ = nullptr;
    touch(entry);
  }
}

void reactor::collect(op_list& completions) {
  for (const auto serial : touched_) {
    const auto found = by_serial_.find(serial);
    if (found == by_serial_.end()) continue;
    session_entry& entry = *found->second;
    entry.touched = false;
    bool waiting = false;
    for (auto* op : entry.ops) waiting = waiting || op->state == reactor_op::sent;
    if (!waiting) {
      clear_deadline(entry);  // what the library may still hold for cancelled requests waits
    } else if (!refresh_deadline(entry)) {
      // The library holds nothing for requests we still wait on: they would never end.
      for (auto* op : entry.ops) {
        if (op->state == reactor_op::sent) {
          op->state = reactor_op::failed;
          op->library_error = library_error(SNMPERR_GENERR).value();
        }
      }
    }
    auto kept = entry.ops.begin();
    for (auto* op : entry.ops) {
      if (op->finished()) {
        completions.push_back(op);
      } else {
        *kept++ = op;
      }
    }
    entry.ops.erase(kept, entry.ops.end());
  }
  touched_.clear();
}

void reactor::clear_deadline(session_entry& entry) {
  if (!entry.deadline) return;
  deadlines_.erase({*entry.deadline, entry.serial});
  entry.deadline.reset();
}

bool reactor::refresh_deadline(session_entry& entry) {
  clear_deadline(entry);
  int descriptors = 0;
  int block = 1;
  timeval remaining{};
  snmp_sess_select_info2_flags(entry.handle, &descriptors, &fd_sets_->scratch, &remaining, &block,
                               NETSNMP_SELECT_NOALARMS);
  NETSNMP_LARGE_FD_CLR(entry.socket, &fd_sets_->scratch);
  if (block != 0) return false;
  // Read the clock after the library did, so the deadline is never before its own.
  const auto deadline = clock::now() + std::chrono::seconds(remaining.tv_sec) +
                        std::chrono::microseconds(remaining.tv_usec);
  entry.deadline = deadline;
  deadlines_.emplace(deadline, entry.serial);
  return true;
}

int reactor::wait_milliseconds() const {
  if (deadlines_.empty()) return -1;
  const auto remaining = deadlines_.begin()->first - clock::now();
  if (remaining <= clock::duration::zero()) return 0;
  const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
  return milliseconds > INT_MAX ? INT_MAX : static_cast<int>(milliseconds);
}

void reactor::touch(session_entry& entry) {
  if (entry.touched) return;
  entry.touched = true;
  touched_.push_back(entry.serial);
}

void reactor::erase(session_entry& entry) {
  if (entry.usm) entry.usm->release();
  clear_deadline(entry);
  waiter_.unwatch(entry.socket);
  by_serial_.erase(entry.serial);
  table_.erase(entry.handle);  // entry is gone from here on
}

int reactor::after_parse(netsnmp_session* session, netsnmp_pdu* pdu, int result) {
  session_entry* entry = entry_in_call_;
  // A report from an engine the library holds no user for fails to parse and is dropped: the
  // device no longer has the engine ID the session uses, and names the one it has.
  if (result != SNMPERR_SUCCESS && entry != nullptr && entry->usm && pdu != nullptr &&
      pdu->command == SNMP_MSG_REPORT && entry->usm->take_report(*session, *pdu)) {
    for (auto* op : entry->ops) {
      if (op->state != reactor_op::sent) continue;
      op->state = reactor_op::failed;  // rather than a time-out: the next request can succeed
      op->library_error = library_error(SNMPERR_UNKNOWN_ENG_ID).value();
    }
  }
  return 1;  // the library's verdict stands
}

int reactor::library_callback(int operation, snmp_session* session, int, netsnmp_pdu* pdu,
                              void* magic) {
  session_entry* entry = entry_in_call_;
  if (entry == nullptr) return 1;
  const auto id = reinterpret_cast<std::uintptr_t>(magic);
  for (auto* op : entry->ops) {
    if (op->id != id) continue;
    // A cancelled request, or one already finished, keeps its state.
    if (op->state != reactor_op::queued && op->state != reactor_op::sent) break;
    const bool report = pdu != nullptr && pdu->command == SNMP_MSG_REPORT;
    if (report && entry->usm) entry->usm->take_report(*session, *pdu);
    switch (operation) {
      case NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE:
        // The device's clock is not the one the request carried (it restarted, or this is
        // the first authenticated request): the library takes its time from the report and
        // sends the request again, or reports a security error once out of retries.
        if (report && snmpv3_get_report_type(pdu) == SNMPERR_NOT_IN_TIME_WINDOW) break;
        op->response = take_response(pdu);
        op->state = reactor_op::received;
        break;
      case NETSNMP_CALLBACK_OP_TIMED_OUT:
        op->state = reactor_op::timed_out;
        break;
      case NETSNMP_CALLBACK_OP_RESEND:  // the library re-sends; the request goes on
        // Out of a read, a resend answers a notInTimeWindow report.
        if (reading_ && entry->usm && log_debug.enabled())
          log_debug(boost::format("%1% - SNMP engine time resynchronized") % entry->usm->label());
        break;
      case NETSNMP_CALLBACK_OP_CONNECT:
        break;
      case NETSNMP_CALLBACK_OP_SEC_ERROR: {
        // An SNMPv3 report in place of the answer (unknown engine, user or key): its kind
        // says why.
        const int reported = pdu != nullptr ? snmpv3_get_report_type(pdu) : SNMPERR_SUCCESS;
        op->state = reactor_op::failed;
        op->library_error = reported != SNMPERR_SUCCESS ? reported : session_error(session);
        break;
      }
      default:  // send failed, disconnected: no answer will come
        op->state = reactor_op::failed;
        op->library_error = session_error(session);
        break;
    }
    break;
  }
  return 1;
}

}  // namespace tamro::netsnmp
