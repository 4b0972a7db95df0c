#include "snmp/configure_snmp.hpp"

#include <boost/property_tree/ptree.hpp>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include "config/configuration_error.hpp"
#include "log/logger.hpp"
#include "snmp/netsnmp/error_category.hpp"
#include "snmp/netsnmp/library.hpp"
#include "snmp/netsnmp/library_lock.hpp"
#include "snmp/settings.hpp"

namespace tamro {
namespace {

struct integer_key {
  long long value;   // clamped to the range of long long
  std::string text;  // as written, for messages
};

// A whole decimal integer with optional blanks around it; anything else counts as absent.
std::optional<integer_key> integer_value(const boost::property_tree::ptree& section,
                                         const char* key) {
  const auto text = section.get_optional<std::string>(key);
  if (!text) return std::nullopt;
  const auto first = text->find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::nullopt;
  const auto last = text->find_last_not_of(" \t\r\n");
  std::string digits = text->substr(first, last - first + 1);
  const std::size_t start = (digits[0] == '-' || digits[0] == '+') ? 1 : 0;
  if (start == digits.size()) return std::nullopt;
  for (std::size_t i = start; i < digits.size(); ++i) {
    if (digits[i] < '0' || digits[i] > '9') return std::nullopt;
  }
  return integer_key{std::strtoll(digits.c_str(), nullptr, 10), digits};
}

// "A;B;" for the modules A and B, ";" (none) when the section lists none. The separator is
// the library's for this platform (":" on POSIX): with ";" there, the library would look for
// one module named "A;B;" and load nothing. Never empty: on Windows an empty value removes the
// variable, and the library then loads its own default list.
std::string mibs_text(const boost::property_tree::ptree& section) {
  std::string text;
  if (const auto mibs = section.get_child_optional("mibs")) {
    for (const auto& [name, child] : *mibs) {
      if (name == "mib") text += child.data() + ENV_SEPARATOR;
    }
  }
  return text.empty() ? ENV_SEPARATOR : text;
}

int log_library_message(int, int, void* server_arg, void*) {
  const auto* record = static_cast<const snmp_log_message*>(server_arg);
  std::string line = "Net-SNMP: ";
  if (record != nullptr && record->msg != nullptr) line += record->msg;
  line.erase(line.find_last_not_of(" \t\r\n") + 1);
  log_debug(line);
  return 0;
}

}  // namespace

void configure_snmp(const boost::property_tree::ptree& snmp_section) {
  // Read and check everything first, so a bad section changes nothing.
  const auto timeout = integer_value(snmp_section, "timeout");
  const auto retries = integer_value(snmp_section, "retries");
  if (timeout && (timeout->value < 1 || timeout->value > snmp::max_timeout_seconds)) {
    throw configuration_error("snmp timeout " + timeout->text + " is out of range (1 to " +
                              std::to_string(snmp::max_timeout_seconds) + " seconds)");
  }
  if (retries &&
      (retries->value < 0 || retries->value > std::numeric_limits<std::int32_t>::max())) {
    throw configuration_error("snmp retries " + retries->text + " is out of range (0 or more)");
  }
  const auto mib_directory = snmp_section.get<std::string>("mib-directory");
  const auto persistent_directory = snmp_section.get<std::string>("persistent-directory");

  std::lock_guard<std::mutex> lock(netsnmp::library_mutex());  // a reload runs beside reactors
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 0);
  auto& settings = snmp::global_settings();
  if (timeout) settings.timeout = static_cast<std::int32_t>(timeout->value);
  if (retries) settings.retries = static_cast<std::int32_t>(retries->value);
  netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIBDIRS, mib_directory.c_str());
  ::setenv("MIBS", mibs_text(snmp_section).c_str(), 1);
  netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_PERSISTENT_DIR,
                        persistent_directory.c_str());
  netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_OID_OUTPUT_FORMAT,
                     NETSNMP_OID_OUTPUT_NUMERIC);

  // Registered once: a second registration would log every library line twice.
  static const bool registered = [] {
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, log_library_message,
                           nullptr);
    netsnmp_register_loghandler(NETSNMP_LOGHANDLER_CALLBACK, LOG_DEBUG);
    return true;
  }();
  (void)registered;

  init_snmp("tamro");  // the library initialises itself once; later calls return at once
  netsnmp::keep_library_texts();
}

}  // namespace tamro
