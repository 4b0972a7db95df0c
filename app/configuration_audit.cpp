#include "app/configuration_audit.hpp"

#include <algorithm>
#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstdint>
#include <limits>
#include <map>
#include <stdexcept>

#include "app/platform.hpp"
#include "config/value_syntax.hpp"
#include "config/xml_file.hpp"
#include "log/sink.hpp"
#include "reporting/url.hpp"

namespace tamro {
namespace {

using boost::property_tree::ptree;

enum class kind { text, boolean, integer, count, port, level, oid, server_url, section };

// One element a reader knows: its kind, and for a value what a start uses when it does not
// convert; for a section the elements it may hold.
struct rule {
  const char* name;
  kind type;
  const char* fallback = "";
  std::vector<rule> children = {};
  bool repeats = false;  // else a second one is a mistake: a start reads only the first
};

const rule& configuration_rule() {
  static const rule configuration = {
      "tamro-configuration",
      kind::section,
      "",
      {{"logging",
        kind::section,
        "",
        {{"console", kind::boolean, "false"},
         {"level", kind::level, "warning"},
         {"rotate", kind::boolean, "false"},
         {"keep", kind::count, "every rotated file is kept"},
         {"file", kind::text}}},
       {"agent",
        kind::section,
        "",
        {{"heartbeat-template", kind::text},
         {"server-uri", kind::server_url},
         {"user-agent", kind::text},
         {"http-timeout", kind::text},
         {"max-concurrent-posts", kind::text},
         {"persistent-connections", kind::boolean, "false"},
         {"idle-timeout", kind::text},
         {"ca-file", kind::text},
         {"ignore-cert-hostname", kind::boolean, "false"},
         {"metrics-listen", kind::text},
         {"ignore-cert-errors", kind::section, "", {{"error-code", kind::text, "", {}, true}}}}},
       {"snmp",
        kind::section,
        "",
        {{"timeout", kind::integer, "the value in force (5 at start)"},
         {"retries", kind::integer, "the value in force (0 at start)"},
         {"mib-directory", kind::text},
         {"mibs", kind::section, "", {{"mib", kind::text, "", {}, true}}},
         {"persistent-directory", kind::text}}},
       {"mappings-file", kind::text},
       {"devices-file", kind::text},
       {"reporting",
        kind::section,
        "",
        {{"name", kind::text},
         {"location", kind::text},
         {"serial-number", kind::text},
         {"ip-address", kind::text},
         {"mac-address", kind::text},
         {"heartbeat-interval", kind::integer, "the value in force (300 at start)"}}}}};
  return configuration;
}

// A child of the root that is no mapping or device is the repository's to report.
const rule& mapping_rule() {
  static const rule mapping = {"mapping",
                               kind::section,
                               "",
                               {{"name", kind::text},
                                {"mappers",
                                 kind::section,
                                 "",
                                 {{"variable",
                                   kind::section,
                                   "",
                                   {{"name", kind::text},
                                    {"oid", kind::oid},
                                    {"value", kind::text},
                                    {"transformation", kind::text}},
                                   true},
                                  {"table",
                                   kind::section,
                                   "",
                                   {{"name", kind::text},
                                    {"index", kind::text},
                                    {"column",
                                     kind::section,
                                     "",
                                     {{"name", kind::text},
                                      {"oid", kind::text},  // the mapping's load checks it
                                      {"transformation", kind::text}},
                                     true}},
                                   true}}}}};
  return mapping;
}

const rule& device_rule() {
  static const rule device = {"device",
                              kind::section,
                              "",
                              {{"ip-address", kind::text},
                               {"mapping-name", kind::text},
                               {"udp-port", kind::port, "161"},
                               {"community", kind::text},
                               {"snmp-version", kind::text},
                               {"heartbeat-interval", kind::integer,
                                "300 for a new device, the interval in force for a listed one"},
                               // Checked by the device's own load, which refuses the device.
                               {"timeout", kind::text},
                               {"retries", kind::text},
                               {"security-name", kind::text},
                               {"security-level", kind::text},
                               {"auth-protocol", kind::text},
                               {"auth-passphrase", kind::text},
                               {"privacy-protocol", kind::text},
                               {"privacy-passphrase", kind::text},
                               {"context-name", kind::text}}};
  return device;
}

bool is_boolean(std::string text) {
  boost::algorithm::trim(text);
  return text == "true" || text == "false" || text == "1" || text == "0";
}

// A start reads numbers as 32-bit ones: a longer one counts as absent.
bool fits_32_bits(const std::string& text) {
  return parse_integer(text, std::numeric_limits<std::int32_t>::min(),
                       std::numeric_limits<std::int32_t>::max())
      .has_value();
}

// Empty when the value reads as the rule wants; else what is wrong with it.
std::string value_problem(const rule& r, const std::string& text) {
  const std::string quoted = "\"" + text + "\"";
  const std::string instead = std::string("; a start uses ") + r.fallback;
  const char* too_long = " is not a 32-bit number (at most 2147483647)";
  switch (r.type) {
    case kind::boolean:
      return is_boolean(text) ? "" : quoted + " is not true, false, 1 or 0" + instead;
    case kind::integer:
      if (!is_whole_number(text)) return quoted + " is not a whole number" + instead;
      return fits_32_bits(text) ? "" : quoted + too_long + instead;
    case kind::count:
      if (!is_whole_number(text) || text.find('-') != std::string::npos)
        return quoted + " is not a whole number, 0 or more" + instead;
      return fits_32_bits(text) ? "" : quoted + too_long + instead;
    case kind::port:
      return parse_port(text) ? "" : quoted + " is not a port number (0 to 65535)" + instead;
    case kind::level:
      return is_whole_number(text) || log::level_for_name(boost::algorithm::trim_copy(text))
                 ? ""
                 : quoted + " is not a level (off, debug, info, warning, error or a number)" +
                       instead;
    case kind::oid:
      return is_numeric_oid(text) ? ""
                                  : quoted +
                                        " is not a numeric OID such as .1.3.6.1.2.1.1.3.0; no "
                                        "answer ever matches it";
    case kind::server_url: {
      url server;
      try {
        server = url::from_string(text);
      } catch (const std::exception&) {
        return "";  // the load itself refuses it
      }
      const std::string scheme = boost::algorithm::to_lower_copy(server.protocol());
      // The load refuses file: itself. The text may hold a password or a token: not shown.
      const std::string shown = "\"" + server.display_text() + "\"";
      if (scheme == "file") return "";
      if (scheme != "http" && scheme != "https")
        return shown + " is not an http or https URL; no heartbeat would be delivered";
      return server.host().empty() ? shown + " names no host; no heartbeat would be delivered" : "";
    }
    default:
      return "";
  }
}

// The devices and mappings files are read as written: a community on lines of its own is
// sent with its line breaks, and never matches.
bool has_blanks_around(const std::string& text) {
  return text != boost::algorithm::trim_copy(text);
}

void audit(const ptree& node, const std::vector<rule>& rules, const std::string& path,
           const std::string& file, std::vector<std::string>& findings) {
  std::map<std::string, int> seen;
  for (const auto& [name, child] : node) {
    if (name == "<xmlcomment>" || name == "<xmlattr>") continue;
    const std::string key = path + name;
    const auto known =
        std::find_if(rules.begin(), rules.end(), [&](const rule& r) { return name == r.name; });
    if (known == rules.end()) {
      findings.push_back(file + ": " + key + ": unknown element, ignored");
      continue;
    }
    if (++seen[name] == 2 && !known->repeats) {
      findings.push_back(file + ": " + key + ": given " + std::to_string(node.count(name)) +
                         " times; a start reads only the first");
    }
    if (known->type == kind::section) {
      audit(child, known->children, key + "/", file, findings);
    } else if ((known->type == kind::text || known->type == kind::oid) &&
               has_blanks_around(child.data())) {
      findings.push_back(file + ": " + key + ": \"" + child.data() +
                         "\" has blanks or line breaks around it, which a start keeps");
    } else if (const std::string problem = value_problem(*known, child.data()); !problem.empty()) {
      findings.push_back(file + ": " + key + ": " + problem);
    }
  }
}

// Each child of the root named as the rule, named in messages by its label element (none:
// the configuration file's one root). Other children are the reader's to report.
std::vector<std::string> audit_items(const ptree& root, const rule& item, const char* label,
                                     const std::string& file) {
  std::vector<std::string> findings;
  for (const auto& [name, child] : root) {
    if (name != item.name) continue;
    const std::string path =
        label ? name + " " + boost::algorithm::trim_copy(child.get(label, std::string("?"))) + ": "
              : "";
    audit(child, item.children, path, file, findings);
  }
  return findings;
}

}  // namespace

std::vector<std::string> audit_configuration(const ptree& tree, const std::string& file) {
  return audit_items(tree, configuration_rule(), nullptr, file);
}

std::vector<std::string> audit_mappings(const ptree& mappings, const std::string& file) {
  return audit_items(mappings, mapping_rule(), "name", file);
}

std::vector<std::string> audit_devices(const ptree& devices, const std::string& file) {
  return audit_items(devices, device_rule(), "ip-address", file);
}

std::vector<std::string> audit_log_file(const std::string& log_file, const std::string& file) {
  const std::string where = file + ": logging/file: ";
  std::string problem;
  boost::system::error_code absent;
  if (log_file.empty()) {
    problem = "is empty";
  } else if (boost::filesystem::is_directory(log_file, absent)) {
    problem = log_file + " is a folder";
  } else if (const std::string reason = platform::write_access_problem(log_file); !reason.empty()) {
    problem = log_file + " cannot be written (" + reason + ")";
  } else {
    return {};
  }
  return {where + problem + "; nothing would be logged there"};
}

std::vector<std::string> audit_template(const std::string& template_file, const std::string& file) {
  std::string text;
  try {
    text = read_text_file(template_file);
  } catch (const std::exception&) {
    return {};  // the load itself refuses it
  }
  if (!boost::algorithm::trim_copy(text).empty()) return {};
  return {file + ": agent/heartbeat-template: " + template_file +
          " is empty; no heartbeat would be sent"};
}

std::vector<std::string> configuration_warnings(const ptree& tree, const std::string& file) {
  const auto uri = tree.get_optional<std::string>("tamro-configuration.agent.server-uri");
  if (!uri) return {};
  std::string host;
  try {
    host = boost::algorithm::to_lower_copy(url::from_string(*uri).host());
  } catch (const std::exception&) {
    return {};
  }
  // ".invalid" never resolves: it is what the package ships until the operator names a server.
  const std::string placeholder = ".invalid";
  if (host.size() < placeholder.size() ||
      host.compare(host.size() - placeholder.size(), placeholder.size(), placeholder) != 0)
    return {};
  return {file + ": agent/server-uri: " + *uri +
          " is a placeholder; name the management server there, or no heartbeat is delivered"};
}

}  // namespace tamro
