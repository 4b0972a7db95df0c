#pragma once

#include <stdexcept>
#include <string>

namespace tamro {

// A repository lookup of a key it does not hold.
class item_not_found : public std::runtime_error {
 public:
  explicit item_not_found(const std::string& key)
      : std::runtime_error("item " + key + " not found") {}
};

}  // namespace tamro
