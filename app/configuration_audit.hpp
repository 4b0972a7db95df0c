#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <string>
#include <vector>

namespace tamro {

// What a start reads leniently or leaves unused, each as "FILE: TEXT": elements it does not
// know, values that do not convert (with the value a start uses instead), OIDs that no
// answer ever matches, a server URL that no heartbeat is delivered to. The check counts
// each as a problem; a start logs each as a warning and goes on.
std::vector<std::string> audit_configuration(const boost::property_tree::ptree& tree,
                                             const std::string& file);
std::vector<std::string> audit_mappings(const boost::property_tree::ptree& mappings,
                                        const std::string& file);
std::vector<std::string> audit_devices(const boost::property_tree::ptree& devices,
                                       const std::string& file);
// A log file that is not named, names a folder or cannot be written: nothing would be logged.
std::vector<std::string> audit_log_file(const std::string& log_file, const std::string& file);
// A heartbeat template with nothing in it: no heartbeat would ever be sent.
std::vector<std::string> audit_template(const std::string& template_file, const std::string& file);

// What is worth saying but no mistake in the files: the package's placeholder server, which
// an installed agent keeps until the operator names the real one. Neither a start nor the
// check fails for it.
std::vector<std::string> configuration_warnings(const boost::property_tree::ptree& tree,
                                                const std::string& file);

}  // namespace tamro
