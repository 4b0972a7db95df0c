#pragma once

#include "mapping/mappers/variable.hpp"

namespace tamro::mappers {

// Sets its variable from the value of one OID in the response.
class oid_variable : public variable {
 public:
  // A non-empty OID without a leading "." gets one, to match the response's keys.
  oid_variable(std::string name, std::string oid,
               std::shared_ptr<const transformation> transform = nullptr);

  void collect_oids(std::set<std::string>& oids) const override;
  void write(boost::property_tree::ptree& mappers_node) const override;
  // Exact text match only; an empty value is a value.
  bool get_value(const snmp::oid_value_map& response, std::string& text) const override;

  const std::string& oid() const { return oid_; }

 private:
  std::string oid_;
};

}  // namespace tamro::mappers
