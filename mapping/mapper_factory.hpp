#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <memory>
#include <string>

#include "mapping/mapper.hpp"

namespace tamro {

// Builds the mapper one child of "mappers" describes, or returns null for a child that
// describes none (not a "variable" or "table", or a variable with neither "oid" nor
// "value"). Throws when "name" is missing or "transformation" is unknown, even for a child
// that yields no mapper, and for a malformed table.
std::shared_ptr<const mapper> make_mapper(const std::string& element,
                                          const boost::property_tree::ptree& node);

}  // namespace tamro
