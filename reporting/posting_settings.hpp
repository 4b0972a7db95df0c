#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "reporting/option_set.hpp"
#include "reporting/url.hpp"

namespace tamro {

class tls_client_context;

// What the "agent" section of the configuration asks of every heartbeat post, read and
// checked but not yet in force.
struct posting_settings {
  std::string template_name;
  url server;
  option_set options;
  std::size_t max_concurrent_posts = 0;
  // Connections kept open between posts (also http::keep_alive in options), and how long
  // one may stay unused.
  bool persistent_connections = false;
  std::chrono::seconds idle_timeout{15};
  // Built with the trust of this load (agent/ca-file loaded), shared by its https posts.
  std::shared_ptr<tls_client_context> tls;
};

// Reads the section, checks that the template parses and that the trust it names loads,
// without touching the settings in force; throws configuration_error or std::runtime_error
// (template that does not load).
posting_settings read_posting_settings(const boost::property_tree::ptree& agent_section);

}  // namespace tamro
