#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "mapping/mapper.hpp"
#include "mapping/transformation.hpp"

namespace tamro::mappers {

// A table walked column by column into a template section, one dictionary per row. A
// row's index is the OID suffix after its column's OID ("1", or "10.1.4"); the rows are
// the indexes any column has, in OID order, and a cell without a value renders empty.
class table : public mapper {
 public:
  struct column {
    std::string variable;
    std::string oid;  // numeric, with a leading dot
    std::shared_ptr<const transformation> transform;
  };

  // Most rows a heartbeat gets of one table.
  static constexpr std::size_t max_rows = 10000;

  // From a "table" element; throws std::runtime_error naming what is wrong.
  explicit table(const boost::property_tree::ptree& node);

  void collect_columns(std::set<std::string>& columns) const override;
  void write(boost::property_tree::ptree& mappers_node) const override;
  // Reads the walked values out of the answer, keyed by their whole OIDs.
  void apply(const snmp::oid_value_map& response,
             ctemplate::TemplateDictionary& dictionary) const override;

  const std::string& index_variable() const { return index_variable_; }
  const std::vector<column>& columns() const { return columns_; }

 private:
  std::string index_variable_;
  std::vector<column> columns_;
};

}  // namespace tamro::mappers
