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

}  // namespace tamro
