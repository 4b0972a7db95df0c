#include "mapping/mappers/oid_variable.hpp"

#include <boost/property_tree/ptree.hpp>

namespace tamro::mappers {

oid_variable::oid_variable(std::string name, std::string oid,
                           std::shared_ptr<const transformation> transform)
    : variable(std::move(name), std::move(transform)), oid_(std::move(oid)) {
  if (!oid_.empty() && oid_.front() != '.') oid_.insert(oid_.begin(), '.');
}

void oid_variable::collect_oids(std::set<std::string>& oids) const { oids.insert(oid_); }

void oid_variable::write(boost::property_tree::ptree& mappers_node) const {
  auto& node = mappers_node.add_child("variable", {});
  node.put("name", name());
  node.put("oid", oid_);
  if (transform()) node.put("transformation", transform()->name());
}

bool oid_variable::get_value(const snmp::oid_value_map& response, std::string& text) const {
  const auto found = response.find(oid_);
  if (found == response.end()) return false;
  text = found->second;
  return true;
}

}  // namespace tamro::mappers
