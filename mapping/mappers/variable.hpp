#pragma once

#include <memory>

#include "mapping/mapper.hpp"
#include "mapping/transformation.hpp"

namespace tamro::mappers {

// A mapper that sets its variable to one value text, passed through an optional
// transformation first.
class variable : public mapper {
 public:
  variable(std::string name, std::shared_ptr<const transformation> transform);

  void apply(const snmp::oid_value_map& response,
             ctemplate::TemplateDictionary& dictionary) const override;
  // True with the value in text when there is one.
  virtual bool get_value(const snmp::oid_value_map& response, std::string& text) const = 0;

  // Empty when the entry names none.
  const std::shared_ptr<const transformation>& transform() const { return transform_; }

 private:
  std::shared_ptr<const transformation> transform_;
};

}  // namespace tamro::mappers
