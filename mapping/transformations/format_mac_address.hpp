#pragma once

#include "mapping/transformation.hpp"

namespace tamro::transformations {

// MAC address text to the colon form; a text that is no MAC address passes through unchanged.
class format_mac_address : public transformation {
 public:
  const char* name() const override;
  void transform(std::string& text) const override;
};

}  // namespace tamro::transformations
