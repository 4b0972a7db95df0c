#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "mapping/mapper.hpp"

namespace tamro {

// A named, ordered list of mappers. Immutable once loaded and shared by pointer, so a
// reload replaces the repository's entry without touching the one a poller holds.
class mapping {
 public:
  mapping(std::string name, std::vector<std::shared_ptr<const mapper>> mappers);
  mapping(const mapping&) = delete;
  mapping& operator=(const mapping&) = delete;

  const std::string& name() const { return name_; }
  const std::vector<std::shared_ptr<const mapper>>& mappers() const { return mappers_; }

  void collect_oids(std::set<std::string>& oids) const;
  void collect_columns(std::set<std::string>& columns) const;
  // Applies the mappers in order; the first one that throws ends the call.
  void apply(const snmp::oid_value_map& response, ctemplate::TemplateDictionary& dictionary) const;

 private:
  std::string name_;
  std::vector<std::shared_ptr<const mapper>> mappers_;
};

}  // namespace tamro
