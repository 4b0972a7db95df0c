#pragma once

#include <memory>
#include <utility>

#include "snmp/netsnmp/reactor_op.hpp"

namespace tamro::netsnmp {

// A request with its completion handler, called as handler(error_code, Pdu* response).
template <class Handler, class Pdu>
class operation : public reactor_op {
 public:
  operation(session_handle session, netsnmp_pdu* request, Handler handler)
      : reactor_op(&operation::do_complete, session, request), handler_(std::move(handler)) {}

 private:
  // Called by the I/O service with its owner to run the handler, or without one to free the
  // operation only (the I/O service is being destroyed).
  static void do_complete(void* owner, boost::asio::detail::scheduler_operation* base,
                          const boost::system::error_code&, std::size_t) {
    std::unique_ptr<operation> op(static_cast<operation*>(base));
    if (owner == nullptr) return;
    Handler handler(std::move(op->handler_));
    const boost::system::error_code result = op->result();
    const bool answered = op->state == received;
    Pdu response(std::exchange(op->response, nullptr));
    op.reset();  // before the handler, which may start the next request
    handler(result, answered && response ? &response : nullptr);
  }

  Handler handler_;
};

}  // namespace tamro::netsnmp
