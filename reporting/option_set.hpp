#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <typeinfo>
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

// One polymorphic link of the option chain; each link owns the next one.
class option_wrapper_base {
 public:
  option_wrapper_base() = default;
  option_wrapper_base(const option_wrapper_base&) = delete;
  option_wrapper_base& operator=(const option_wrapper_base&) = delete;
  virtual ~option_wrapper_base() = default;

  virtual const std::type_info& type() const = 0;
  // Copies this link with its value, not the rest of the chain.
  virtual std::unique_ptr<option_wrapper_base> clone() const = 0;

  std::unique_ptr<option_wrapper_base> next;
};

template <class Option>
class option_wrapper : public option_wrapper_base {
 public:
  explicit option_wrapper(Option option) : value(std::move(option)) {}
  const std::type_info& type() const override { return typeid(Option); }
  std::unique_ptr<option_wrapper_base> clone() const override {
    return std::make_unique<option_wrapper<Option>>(value);
  }

  Option value;
};

// At most one value per option type; an absent option reads as its default.
class option_set {
 public:
  option_set() = default;
  option_set(const option_set& other);
  option_set& operator=(const option_set& other);
  option_set(option_set&&) noexcept = default;
  option_set& operator=(option_set&&) noexcept = default;
  ~option_set();

  template <class Option>
  void set(Option option) {
    if (auto* link = find(typeid(Option)))
      static_cast<option_wrapper<Option>*>(link)->value = std::move(option);
    else
      append(std::make_unique<option_wrapper<Option>>(std::move(option)));
  }

  template <class Option>
  Option get() const {
    if (const auto* link = find(typeid(Option)))
      return static_cast<const option_wrapper<Option>*>(link)->value;
    return Option{};
  }

  // Copies every option of other into this set, replacing those of the same types.
  void set_options(const option_set& other);

 private:
  option_wrapper_base* find(const std::type_info& type) const;
  void append(std::unique_ptr<option_wrapper_base> link);
  void replace_or_append(const option_wrapper_base& link);

  std::unique_ptr<option_wrapper_base> head_;
};

}  // namespace tamro
