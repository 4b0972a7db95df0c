#include "reporting/posting_settings.hpp"

#include <boost/lexical_cast.hpp>
#include <boost/property_tree/ptree.hpp>
#include <fstream>
#include <limits>
#include <vector>

#include "config/configuration_error.hpp"
#include "config/system_reason.hpp"
#include "config/value_syntax.hpp"
#include "reporting/heartbeat_renderer.hpp"
#include "reporting/post_queue.hpp"
#include "reporting/tls_client_context.hpp"

namespace tamro {
namespace {

constexpr int most_concurrent_posts = 1024;
constexpr int longest_idle_timeout = 3600;

// A whole number from minimum to maximum, or fallback when the element is absent; anything
// else stops the load with "invalid KEY TEXT".
int read_count(const boost::property_tree::ptree& section, const char* key, int fallback,
               int minimum, int maximum) {
  const auto text = section.get_optional<std::string>(key);
  if (!text) return fallback;
  const auto count = parse_integer(*text, minimum, maximum);
  if (!count) throw configuration_error(std::string("invalid ") + key + " " + *text);
  return static_cast<int>(*count);
}

// Loaded now, so that a file that cannot be read stops the load with its reason instead of
// failing every https post later.
std::shared_ptr<tls_client_context> load_trust(const std::string& ca_file) {
  auto tls = std::make_shared<tls_client_context>();
  if (ca_file.empty()) return tls;
  if (!std::ifstream(ca_file).is_open())
    throw configuration_error("ca-file " + ca_file + " cannot be read: " + system_reason());
  boost::system::error_code error;
  tls->context(ca_file, error);
  if (error)
    throw configuration_error("ca-file " + ca_file +
                              " holds no certificate that can be loaded: " + error.message());
  return tls;
}

}  // namespace

posting_settings read_posting_settings(const boost::property_tree::ptree& section) {
  posting_settings settings;
  settings.options.set(http::request_content_type{"application/xml; charset=\"utf-8\""});
  settings.options.set(http::request_method{"POST"});
  try {
    settings.template_name = section.get<std::string>("heartbeat-template");
    settings.server = url::from_string(section.get<std::string>("server-uri"));
    settings.options.set(
        http::user_agent{section.get<std::string>("user-agent", "klav-agent/1.0 (TAMRO)")});
  } catch (const std::exception& e) {
    throw configuration_error(e.what());
  }
  heartbeat_renderer::check(settings.template_name);
  settings.options.set(https::ignore_cert_hostname{
      section.get_optional<bool>("ignore-cert-hostname").value_or(false)});
  // Every load sets the list afresh: an element the operator removed must stop applying.
  std::vector<std::int32_t> codes;
  if (const auto errors = section.get_child_optional("ignore-cert-errors")) {
    for (const auto& [element, code] : *errors) {
      if (element != "error-code") continue;
      try {
        codes.push_back(boost::lexical_cast<std::int32_t>(code.data()));
      } catch (const boost::bad_lexical_cast&) {
        throw configuration_error("invalid ignore-cert-errors error-code " + code.data());
      }
    }
  }
  settings.options.set(https::ignore_cert_errors{std::move(codes)});
  settings.options.set(http::timeout{std::chrono::seconds(
      read_count(section, "http-timeout", static_cast<int>(http::timeout{}.value.count()), 1,
                 std::numeric_limits<int>::max()))});
  const std::string ca_file = section.get("ca-file", std::string());
  settings.options.set(https::ca_file{ca_file});
  settings.tls = load_trust(ca_file);
  settings.max_concurrent_posts = static_cast<std::size_t>(
      read_count(section, "max-concurrent-posts", static_cast<int>(post_queue::default_limit), 1,
                 most_concurrent_posts));
  settings.persistent_connections =
      section.get_optional<bool>("persistent-connections").value_or(false);
  settings.options.set(http::keep_alive{settings.persistent_connections});
  settings.idle_timeout = std::chrono::seconds(
      read_count(section, "idle-timeout", static_cast<int>(settings.idle_timeout.count()), 1,
                 longest_idle_timeout));
  return settings;
}

}  // namespace tamro
