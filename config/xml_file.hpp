#pragma once

#include <boost/property_tree/ptree.hpp>
#include <string>

namespace tamro {

// Reads an XML file into a tree; flags are those of the property tree XML reader.
// Errors (missing file, malformed XML) propagate with the reader's message.
boost::property_tree::ptree read_xml_file(const std::string& path, int flags = 0);

// Writes a tree as XML (two-blank indentation, "utf-8") and replaces the file atomically:
// the text goes to a temporary file in the same folder, which is then renamed over the
// old one, so a crash or a full disk never leaves a truncated file. Throws
// std::runtime_error naming the file when anything fails; the old file is then untouched.
void write_xml_file(const std::string& path, const boost::property_tree::ptree& tree);

}  // namespace tamro
