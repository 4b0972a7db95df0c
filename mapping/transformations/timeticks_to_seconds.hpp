#pragma once

#include "mapping/transformation.hpp"

namespace tamro::transformations {

// TimeTicks (hundredths of seconds, unsigned 32-bit) to whole seconds. A leading "-" wraps
// modulo 2^32 as the agent would have sent it; any other text is left as it is.
class timeticks_to_seconds : public transformation {
 public:
  const char* name() const override;
  void transform(std::string& text) const override;
};

}  // namespace tamro::transformations
