#include "mapping/transformation.hpp"

#include <stdexcept>

#include "mapping/transformations/format_mac_address.hpp"
#include "mapping/transformations/timeticks_to_seconds.hpp"

namespace tamro {

transformation::~transformation() = default;

namespace {

template <class Kind>
std::shared_ptr<const transformation> shared_instance() {
  static const std::shared_ptr<const transformation> instance = std::make_shared<Kind>();
  return instance;
}

}  // namespace

std::shared_ptr<const transformation> make_transformation(const std::string& keyword) {
  if (keyword == "timeticks-to-seconds") {
    return shared_instance<transformations::timeticks_to_seconds>();
  }
  if (keyword == "format-mac-address") {
    return shared_instance<transformations::format_mac_address>();
  }
  throw std::runtime_error("unknown transformation: " + keyword);
}

}  // namespace tamro
