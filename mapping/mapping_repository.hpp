#pragma once

#include "mapping/mapping.hpp"
#include "mapping/xml_repository.hpp"

namespace tamro {

// The mappings file: root "mappings" (version "1.0"), one element per mapping. A mapping
// that fails to build is logged and dropped; devices naming it then fail their own lookup.
class mapping_repository : public xml_repository<std::string, mapping> {
 protected:
  void on_item_error(const std::exception& e) override;
  const char* root_name() const override;
  void write_attributes(boost::property_tree::ptree& tree) const override;
  std::string item_key(const std::string& element,
                       const boost::property_tree::ptree& node) override;
  std::shared_ptr<mapping> create_item(const std::string& element,
                                       const boost::property_tree::ptree& node) override;
  void write_item(boost::property_tree::ptree& root, const mapping& item) const override;
};

}  // namespace tamro
