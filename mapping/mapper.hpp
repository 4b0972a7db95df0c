#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <set>
#include <string>

#include "snmp/response_map.hpp"

namespace ctemplate {
class TemplateDictionary;
}

namespace tamro {

// One entry of a mapping: names the OIDs it needs before a poll and sets a template
// variable (or a section, for a table) from the response. Immutable once built; always held by
// shared pointer.
class mapper {
 public:
  explicit mapper(std::string name);
  mapper(const mapper&) = delete;
  mapper& operator=(const mapper&) = delete;
  virtual ~mapper();

  // Adds the OIDs this mapper reads with a GET; nothing by default.
  virtual void collect_oids(std::set<std::string>& oids) const;
  // Adds the table columns this mapper walks; nothing by default.
  virtual void collect_columns(std::set<std::string>& columns) const;
  // Appends this mapper's element under the "mappers" node; nothing by default.
  virtual void write(boost::property_tree::ptree& mappers_node) const;
  // Throws mapping_error when the response lacks the value.
  virtual void apply(const snmp::oid_value_map& response,
                     ctemplate::TemplateDictionary& dictionary) const = 0;

  // The template variable it sets.
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

}  // namespace tamro
