#include "mapping/mapping.hpp"

namespace tamro {

mapping::mapping(std::string name, std::vector<std::shared_ptr<const mapper>> mappers)
    : name_(std::move(name)), mappers_(std::move(mappers)) {}

void mapping::collect_oids(std::set<std::string>& oids) const {
  for (const auto& m : mappers_) m->collect_oids(oids);
}

void mapping::collect_columns(std::set<std::string>& columns) const {
  for (const auto& m : mappers_) m->collect_columns(columns);
}

void mapping::apply(const snmp::oid_value_map& response,
                    ctemplate::TemplateDictionary& dictionary) const {
  for (const auto& m : mappers_) m->apply(response, dictionary);
}

}  // namespace tamro
