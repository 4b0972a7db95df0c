// libFuzzer target for the XML reader every file and reply goes through: any bytes either
// read or are refused with xml_parser_error, and nothing read is nested deeper than allowed
// (a tree that deep is what exhausted the stack).
#include <boost/property_tree/xml_parser.hpp>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/xml_file.hpp"

namespace {

int depth(const boost::property_tree::ptree& tree) {
  int deepest = 0;
  for (const auto& child : tree) deepest = std::max(deepest, depth(child.second));
  return deepest + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const auto tree = tamro::read_xml_text(text);
    // Elements, plus a level for attributes and one for the root of the tree itself.
    if (depth(tree) > tamro::max_xml_depth + 2) std::abort();
  } catch (const boost::property_tree::xml_parser_error&) {
  }
  return 0;
}
