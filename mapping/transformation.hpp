#pragma once

#include <memory>
#include <string>

namespace tamro {

// Rewrites a value text between the SNMP response and the template dictionary.
// Instances are stateless and shared; transform never throws.
class transformation {
 public:
  transformation() = default;
  transformation(const transformation&) = delete;
  transformation& operator=(const transformation&) = delete;
  virtual ~transformation();

  // The keyword that names it in the mappings file.
  virtual const char* name() const = 0;
  // Leaves a value it cannot use unchanged.
  virtual void transform(std::string& text) const = 0;
};

// The one shared instance for "timeticks-to-seconds" or "format-mac-address" (exact match);
// throws std::runtime_error("unknown transformation: " + keyword) for anything else.
std::shared_ptr<const transformation> make_transformation(const std::string& keyword);

}  // namespace tamro
