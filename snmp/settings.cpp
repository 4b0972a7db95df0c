#include "snmp/settings.hpp"

namespace tamro::snmp {

settings& global_settings() {
  static settings instance;
  return instance;
}

}  // namespace tamro::snmp
