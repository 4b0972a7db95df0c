#include "mapping/mappers/const_variable.hpp"

#include <boost/property_tree/ptree.hpp>

namespace tamro::mappers {

const_variable::const_variable(std::string name, std::string value,
                               std::shared_ptr<const transformation> transform)
    : variable(std::move(name), std::move(transform)), value_(std::move(value)) {}

void const_variable::write(boost::property_tree::ptree& mappers_node) const {
  auto& node = mappers_node.add_child("variable", {});
  node.put("name", name());
  node.put("value", value_);
}

bool const_variable::get_value(const snmp::oid_value_map&, std::string& text) const {
  text = value_;
  return true;
}

}  // namespace tamro::mappers
