#include "snmp/netsnmp/reactor_op.hpp"

#include "snmp/netsnmp/error_category.hpp"
#include "snmp/netsnmp/pdu_implementation.hpp"

namespace tamro::netsnmp {

reactor_op::~reactor_op() {
  pdu_implementation::free(request);
  pdu_implementation::free(response);
}

boost::system::error_code reactor_op::result() const {
  switch (state) {
    case received:
      return {};
    case timed_out:
      return make_error_code(error::timed_out);
    case failed:
      return make_error_code(library_error != 0 ? library_error : -1);
    default:
      return make_error_code(error::aborted);
  }
}

}  // namespace tamro::netsnmp
