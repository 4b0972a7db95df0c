// libFuzzer target for the mappings and devices files as read at a start or reload, and for
// the value transformations a mapping names: any bytes load or are refused without a crash,
// what was loaded saves to a file that loads back as the same items and saves to the same
// bytes, and a transformation only ever rewrites what it understands.
#include <boost/asio/io_context.hpp>
#include <boost/filesystem.hpp>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "agents/agent_repository.hpp"
#include "agents/service_channel.hpp"
#include "log/logger.hpp"
#include "mapping/mapping_repository.hpp"
#include "mapping/transformation.hpp"
#include "reporting/heartbeat_posting.hpp"

namespace {

using namespace tamro;

template <class Repository>
std::set<std::string> keys(const Repository& repository) {
  std::set<std::string> result;
  for (const auto& entry : repository) result.insert(entry.first);
  return result;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

template <class Repository>
void load_quietly(Repository& repository, const std::string& path) {
  try {
    repository.load(path);
  } catch (const std::exception&) {
  }
}

bool all_digits(const std::string& text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

void check_transformations(const std::string& original) {
  std::string seconds = original;
  make_transformation("timeticks-to-seconds")->transform(seconds);
  if (seconds != original && !all_digits(seconds)) std::abort();
  std::string mac = original;
  make_transformation("format-mac-address")->transform(mac);
  if (mac != original && mac.size() != 17) std::abort();
}

struct files_under_test {
  files_under_test() {
    set_console(false);
    set_threshold(4);  // above error: nothing is formatted
    boost::filesystem::create_directory(folder);
  }
  ~files_under_test() { boost::filesystem::remove_all(folder); }

  std::string file(const char* name) const { return folder + "/" + name; }

  std::string folder = (boost::filesystem::temp_directory_path() /
                        boost::filesystem::unique_path("tamro-fuzz-%%%%-%%%%"))
                           .string();
  boost::asio::io_context io;
  heartbeat_posting posting{io};
  agents::service_channel channel{io};
  host_identity identity;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static files_under_test state;
  const std::string text(reinterpret_cast<const char*>(data), size);
  check_transformations(text);

  const std::string input = state.file("input.xml");
  std::ofstream(input, std::ios::binary) << text;
  mapping_repository mappings;
  load_quietly(mappings, input);
  agent_repository devices{state.io, state.posting.poster(), state.channel, mappings,
                           state.identity};
  load_quietly(devices, input);

  const std::string mappings_file = state.file("mappings.xml");
  const std::string devices_file = state.file("devices.xml");
  mappings.save(mappings_file);
  devices.save(devices_file);
  mapping_repository mappings_again;
  mappings_again.load(mappings_file);
  agent_repository devices_again{state.io, state.posting.poster(), state.channel, mappings_again,
                                 state.identity};
  devices_again.load(devices_file);
  if (keys(mappings_again) != keys(mappings) || keys(devices_again) != keys(devices)) {
    std::abort();
  }
  const std::string saved_mappings = read_file(mappings_file);
  const std::string saved_devices = read_file(devices_file);
  mappings_again.save(mappings_file);
  devices_again.save(devices_file);
  if (read_file(mappings_file) != saved_mappings || read_file(devices_file) != saved_devices) {
    std::abort();
  }
  return 0;
}
