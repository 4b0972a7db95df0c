#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <cstddef>
#include <string>

#include "reporting/option_set.hpp"
#include "reporting/url.hpp"

namespace tamro {

// What the "agent" section of the configuration asks of every heartbeat post, read and
// checked but not yet in force.
struct posting_settings {
  std::string template_name;
  url server;
  option_set options;
  std::size_t max_concurrent_posts = 0;
};

// Reads the section and checks that the template parses, without touching the settings in
// force; throws configuration_error or std::runtime_error (template that does not load).
posting_settings read_posting_settings(const boost::property_tree::ptree& agent_section);

}  // namespace tamro
