#pragma once

#include "mapping/mappers/variable.hpp"

namespace tamro::mappers {

// Always sets the same text; asks for no OID.
class const_variable : public variable {
 public:
  const_variable(std::string name, std::string value,
                 std::shared_ptr<const transformation> transform = nullptr);

  // Writes name and value only: a constant's transformation is not kept in the file.
  void write(boost::property_tree::ptree& mappers_node) const override;
  bool get_value(const snmp::oid_value_map& response, std::string& text) const override;

  const std::string& value() const { return value_; }

 private:
  std::string value_;
};

}  // namespace tamro::mappers
