#pragma once

#include <utility>

#include "snmp/netsnmp/pdu_implementation.hpp"

namespace tamro::snmp {

// Owns at most one library PDU and frees it on destruction. Ownership leaves with release(),
// e.g. when a request is handed to the service.
template <class Implementation>
class basic_pdu {
 public:
  using pointer = typename Implementation::pointer;

  basic_pdu() = default;
  explicit basic_pdu(pointer pdu) : pdu_(pdu) {}
  basic_pdu(basic_pdu&& other) noexcept : pdu_(other.release()) {}
  basic_pdu& operator=(basic_pdu&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  basic_pdu(const basic_pdu&) = delete;
  basic_pdu& operator=(const basic_pdu&) = delete;
  ~basic_pdu() { Implementation::free(pdu_); }

  static basic_pdu get_request() {
    return basic_pdu(Implementation::create(Implementation::get_command));
  }

  pointer get() const { return pdu_; }
  pointer release() { return std::exchange(pdu_, nullptr); }
  void reset(pointer pdu = nullptr) { Implementation::free(std::exchange(pdu_, pdu)); }
  explicit operator bool() const { return pdu_ != nullptr; }

 private:
  pointer pdu_ = nullptr;
};

using pdu = basic_pdu<netsnmp::pdu_implementation>;

}  // namespace tamro::snmp
