#include "mapping/mappers/variable.hpp"

#include <ctemplate/template.h>

#include "mapping/mapping_error.hpp"

namespace tamro::mappers {

variable::variable(std::string name, std::shared_ptr<const transformation> transform)
    : mapper(std::move(name)), transform_(std::move(transform)) {}

void variable::apply(const snmp::oid_value_map& response,
                     ctemplate::TemplateDictionary& dictionary) const {
  std::string text;
  if (!get_value(response, text)) throw mapping_error(name());
  if (transform_) transform_->transform(text);
  dictionary.SetValue(name(), text);
}

}  // namespace tamro::mappers
