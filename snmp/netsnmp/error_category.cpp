#include "snmp/netsnmp/error_category.hpp"

#include <map>
#include <mutex>
#include <string>

#include "snmp/netsnmp/library.hpp"

namespace tamro::netsnmp {
namespace {

class texts {
 public:
  void keep(int code) {
    // The library formats into a static buffer and appends the pending detail: copy at once.
    const char* text = snmp_api_errstring(code);
    std::lock_guard<std::mutex> lock(mutex_);
    texts_[code] = text != nullptr ? text : "";
  }
  std::string find(int code) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = texts_.find(code);
    return found != texts_.end() ? found->second : "Unknown error: " + std::to_string(code);
  }

 private:
  mutable std::mutex mutex_;  // its own: messages are read on any thread, under any lock
  std::map<int, std::string> texts_;
};

texts& library_texts() {
  static texts instance;
  return instance;
}

class category : public boost::system::error_category {
 public:
  const char* name() const noexcept override { return "netsnmp"; }
  std::string message(int code) const override { return library_texts().find(code); }
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

boost::system::error_code library_error(int code) {
  library_texts().keep(code);
  return make_error_code(code);
}

void keep_library_texts() {
  static const bool kept = [] {
    snmp_api_errstring(SNMPERR_SUCCESS);  // drops a detail that belongs to no code here
    for (int code = SNMPERR_MAX; code <= SNMPERR_GENERR; ++code) library_texts().keep(code);
    return true;
  }();
  (void)kept;
}

}  // namespace tamro::netsnmp
