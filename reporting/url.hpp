#pragma once

#include <cstdint>
#include <string>

namespace tamro {

// An absolute URL split into its components: scheme ":" ["//" [user "@"] host [":" port]]
// path ["?" query] ["#" fragment]. Texts are kept as written (no percent-decoding); an
// IPv6 host is stored without its brackets.
class url {
 public:
  enum component {
    protocol_component = 1,
    user_info_component = 2,
    host_component = 4,
    port_component = 8,
    path_component = 16,
    query_component = 32,
    fragment_component = 64,
    all_components = 127,
  };

  url() = default;

  // Throws std::invalid_argument for a text that is not an absolute URL; its message shows
  // the text with user-info and query masked.
  static url from_string(const std::string& text);

  const std::string& protocol() const { return protocol_; }
  const std::string& user_info() const { return user_info_; }
  const std::string& host() const { return host_; }
  bool host_is_ipv6() const { return host_is_ipv6_; }
  // Empty when the URL names no port.
  const std::string& port_text() const { return port_; }
  const std::string& path() const { return path_; }
  const std::string& query() const { return query_; }
  const std::string& fragment() const { return fragment_; }
  bool has_query() const { return has_query_; }
  bool has_fragment() const { return has_fragment_; }

  // The named port, else 80 for http and 443 for https, else 0.
  std::uint16_t port() const;

  // The selected components (a mask of `component`) joined as they are written in a URL.
  std::string to_string(int components = all_components) const;
  // The URL as messages show it: without user-info, query and fragment, which may carry
  // passwords and tokens.
  std::string display_text() const;

 private:
  std::string protocol_;
  std::string user_info_;
  std::string host_;
  std::string port_;
  std::string path_;
  std::string query_;
  std::string fragment_;
  bool has_authority_ = false;
  bool has_query_ = false;
  bool has_fragment_ = false;
  bool host_is_ipv6_ = false;
};

}  // namespace tamro
