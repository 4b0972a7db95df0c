#include "snmp/netsnmp/error_category.hpp"

#include <string>

#include "snmp/netsnmp/library.hpp"
#include "snmp/netsnmp/library_lock.hpp"

namespace tamro::netsnmp {
namespace {

class category : public boost::system::error_category {
 public:
  const char* name() const noexcept override { return "netsnmp"; }
  std::string message(int code) const override {
    // The library formats unknown codes into a static buffer: copy at once.
    std::lock_guard<std::mutex> lock(library_mutex());
    const char* text = snmp_api_errstring(code);
    return text != nullptr ? std::string(text) : std::string();
  }
};

static_assert(bad_session == SNMPERR_BAD_SESSION && aborted == SNMPERR_ABORT &&
              timed_out == SNMPERR_TIMEOUT);

}  // namespace

const boost::system::error_category& error_category() {
  static const category instance;
  return instance;
}

boost::system::error_code make_error_code(int code) {
  return boost::system::error_code(code, error_category());
}

}  // namespace tamro::netsnmp
