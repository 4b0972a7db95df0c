#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tamro {

namespace http {

struct request_method {
  std::string value = "GET";
};
struct request_content {
  std::string value;
};
// Sent with a non-empty body only.
struct request_content_type {
  std::string value;
};
// Sent when non-empty.
struct user_agent {
  std::string value;
};
// HTTP/1.1 with Connection: keep-alive, so that the connection may carry later requests;
// otherwise HTTP/1.0 with Connection: close.
struct keep_alive {
  bool value = false;
};
// Bounds a whole exchange: open, redirects and body. Zero or less means no limit.
struct timeout {
  std::chrono::seconds value{60};
};

}  // namespace http

namespace https {

// Certificate verification results (OpenSSL X509_V_ERR_* codes) that are accepted.
struct ignore_cert_errors {
  std::vector<std::int32_t> value;
};
struct ignore_cert_hostname {
  bool value = false;
};
// Extra trusted CA certificates (PEM file), added to the default trust when non-empty.
struct ca_file {
  std::string value;
};

}  // namespace https

// One link of an option chain. A link is never changed once it is in a chain, so chains
// share their links and a copy of a set costs one reference, not a copy of every value (a
// post copies its set twice, with the heartbeat's body in it).
class option_wrapper_base {
 public:
  explicit option_wrapper_base(const void* tag) : tag(tag) {}
  option_wrapper_base(const option_wrapper_base&) = delete;
  option_wrapper_base& operator=(const option_wrapper_base&) = delete;
  virtual ~option_wrapper_base() = default;

  // Copies this link with its value, not the rest of the chain.
  virtual std::shared_ptr<option_wrapper_base> clone() const = 0;

  const void* const tag;  // the option type's, compared by address
  std::shared_ptr<const option_wrapper_base> next;
};

template <class Option>
class option_wrapper : public option_wrapper_base {
 public:
  static constexpr char type_tag = 0;

  explicit option_wrapper(Option option)
      : option_wrapper_base(&type_tag), value(std::move(option)) {}
  std::shared_ptr<option_wrapper_base> clone() const override {
    return std::make_shared<option_wrapper<Option>>(value);
  }

  const Option value;
};

// At most one value per option type; an absent option reads as its default.
class option_set {
 public:
  template <class Option>
  void set(Option option) {
    prepend(std::make_shared<option_wrapper<Option>>(std::move(option)));
  }

  // Valid until this set changes.
  template <class Option>
  const Option& get() const {
    if (const auto* link = find(&option_wrapper<Option>::type_tag))
      return static_cast<const option_wrapper<Option>*>(link)->value;
    static const Option absent{};
    return absent;
  }

  // Takes every option of other, replacing those of the same types.
  void set_options(const option_set& other);

 private:
  using chain = std::shared_ptr<const option_wrapper_base>;

  const option_wrapper_base* find(const void* tag) const;
  void prepend(std::shared_ptr<option_wrapper_base> link);
  static chain without(const chain& links, const void* tag);

  chain head_;
};

}  // namespace tamro
