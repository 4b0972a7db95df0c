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
      : reactor_op(session, request), handler_(std::move(handler)) {}

  void complete() override {
    std::unique_ptr<operation> self(this);
    Handler handler(std::move(handler_));
    const boost::system::error_code result = this->result();
    const bool answered = state == received;
    Pdu answer(std::exchange(response, nullptr));
    self.reset();  // before the handler, which may start the next request
    handler(result, answered && answer ? &answer : nullptr);
  }

 private:
  Handler handler_;
};

}  // namespace tamro::netsnmp
