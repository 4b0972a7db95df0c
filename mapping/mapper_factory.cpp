#include "mapping/mapper_factory.hpp"

#include <boost/property_tree/ptree.hpp>
#include <stdexcept>

#include "mapping/mappers/const_variable.hpp"
#include "mapping/mappers/oid_variable.hpp"
#include "mapping/mappers/table.hpp"
#include "mapping/transformation.hpp"

namespace tamro {

std::shared_ptr<const mapper> make_mapper(const std::string& element,
                                          const boost::property_tree::ptree& node) {
  if (element == "table") return std::make_shared<mappers::table>(node);
  auto name = node.get<std::string>("name");
  std::shared_ptr<const transformation> transform;
  if (const auto keyword = node.get_optional<std::string>("transformation")) {
    try {
      transform = make_transformation(*keyword);
    } catch (const std::exception& e) {
      throw std::runtime_error(element + " " + name + ": " + e.what());
    }
  }
  if (element != "variable") return nullptr;
  if (const auto oid = node.get_optional<std::string>("oid")) {
    return std::make_shared<mappers::oid_variable>(std::move(name), *oid, transform);
  }
  if (const auto value = node.get_optional<std::string>("value")) {
    return std::make_shared<mappers::const_variable>(std::move(name), *value, transform);
  }
  return nullptr;
}

}  // namespace tamro
