#include "app/configuration_audit.hpp"

#include <algorithm>
#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/property_tree/ptree.hpp>
#include <regex>

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
         {"ignore-cert-errors", kind::section, "", {{"error-code", kind::text}}}}},
       {"snmp",
        kind::section,
        "",
        {{"timeout", kind::integer, "the value in force (5 at start)"},
         {"retries", kind::integer, "the value in force (0 at start)"},
         {"mib-directory", kind::text},
         {"mibs", kind::section, "", {{"mib", kind::text}}},
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
                                    {"transformation", kind::text}}},
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
                                      {"transformation", kind::text}}}}}}}}};
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

bool is_integer(const std::string& text) {
  static const std::regex whole(R"(\s*[-+]?[0-9]+\s*)");
  return std::regex_match(text, whole);
}

// The device list's reading: digits only, at most 65535.
bool is_port(const std::string& text) {
  static const std::regex digits("[0-9]{1,5}");
  return std::regex_match(text, digits) && std::stoul(text) <= 65535;
}

// Answers are keyed by numeric OIDs: a name such as SNMPv2-MIB::sysUpTime.0 never matches.
bool is_numeric_oid(const std::string& text) {
  static const std::regex numeric(R"(\.?[0-9]+(\.[0-9]+)*)");
  return std::regex_match(text, numeric);
}

// Empty when the value reads as the rule wants; else what is wrong with it.
std::string value_problem(const rule& r, const std::string& text) {
  const std::string quoted = "\"" + text + "\"";
  const std::string instead = std::string("; a start uses ") + r.fallback;
  switch (r.type) {
    case kind::boolean:
      return is_boolean(text) ? "" : quoted + " is not true, false, 1 or 0" + instead;
    case kind::integer:
      return is_integer(text) ? "" : quoted + " is not a whole number" + instead;
    case kind::count:
      return is_integer(text) && text.find('-') == std::string::npos
                 ? ""
                 : quoted + " is not a whole number, 0 or more" + instead;
    case kind::port:
      return is_port(text) ? "" : quoted + " is not a port number (0 to 65535)" + instead;
    case kind::level:
      return is_integer(text) || log::level_for_name(boost::algorithm::trim_copy(text))
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
      return scheme == "http" || scheme == "https" || scheme == "file"
                 ? ""
                 : "\"" + server.display_text() +
                       "\" is not an http or https URL; no heartbeat would be delivered";
    }
    default:
      return "";
  }
}

void audit(const ptree& node, const std::vector<rule>& rules, const std::string& path,
           const std::string& file, std::vector<std::string>& findings) {
  for (const auto& [name, child] : node) {
    if (name == "<xmlcomment>" || name == "<xmlattr>") continue;
    const std::string key = path + name;
    const auto known =
        std::find_if(rules.begin(), rules.end(), [&](const rule& r) { return name == r.name; });
    if (known == rules.end()) {
      findings.push_back(file + ": " + key + ": unknown element, ignored");
      continue;
    }
    if (known->type == kind::section) {
      audit(child, known->children, key + "/", file, findings);
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
    const std::string path = label ? name + " " + child.get(label, std::string("?")) + ": " : "";
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

}  // namespace tamro
