#include "mapping/mapping_repository.hpp"

#include <stdexcept>

#include "log/logger.hpp"
#include "mapping/mapper_factory.hpp"

namespace tamro {

using boost::property_tree::ptree;

void mapping_repository::on_item_error(const std::exception& e) {
  log_error(boost::format("Error while parsing mapping node: %1%%2%") %
            (source().empty() ? "" : source() + ": ") % e.what());
}

const char* mapping_repository::root_name() const { return "mappings"; }

void mapping_repository::write_attributes(ptree& tree) const {
  tree.put("mappings.<xmlattr>.version", "1.0");
}

std::string mapping_repository::item_key(const std::string&, const ptree& node) {
  return node.get<std::string>("name");
}

std::shared_ptr<mapping> mapping_repository::create_item(const std::string&, const ptree& node) {
  auto name = node.get<std::string>("name");
  std::vector<std::shared_ptr<const mapper>> mappers;
  try {
    for (const auto& child : node.get_child("mappers")) {
      if (child.first == "<xmlcomment>") continue;
      if (auto m = make_mapper(child.first, child.second)) mappers.push_back(std::move(m));
    }
  } catch (const std::exception& e) {
    throw std::runtime_error("mapping " + name + ": " + e.what());
  }
  log_debug(boost::format("mapping %1% loaded") % name);
  return std::make_shared<mapping>(std::move(name), std::move(mappers));
}

void mapping_repository::write_item(ptree& root, const mapping& item) const {
  auto& node = root.add_child("mapping", {});
  node.put("name", item.name());
  auto& mappers = node.add_child("mappers", {});
  for (const auto& m : item.mappers()) m->write(mappers);
}

}  // namespace tamro
