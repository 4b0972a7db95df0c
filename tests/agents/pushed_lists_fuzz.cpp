// libFuzzer target for a status heartbeat reply that pushes device and mapping lists, applied
// to the same repositories input after input as a server would: any bytes are applied or
// refused without a crash, and the files written read back as the lists held.
#include <boost/asio/io_context.hpp>
#include <boost/filesystem.hpp>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "agents/agent_repository.hpp"
#include "agents/pushed_lists.hpp"
#include "agents/service_channel.hpp"
#include "agents/status_reporter.hpp"
#include "log/logger.hpp"
#include "mapping/mapping_repository.hpp"
#include "reporting/heartbeat_posting.hpp"
#include "reporting/reply_processing.hpp"

namespace {

using namespace tamro;

template <class Repository>
std::set<std::string> keys(const Repository& repository) {
  std::set<std::string> result;
  for (const auto& entry : repository) result.insert(entry.first);
  return result;
}

struct lists_under_test {
  lists_under_test() {
    set_console(false);
    set_threshold(4);  // above error: nothing is formatted
    reporter.set_list_receiver(&lists);
  }

  ~lists_under_test() { boost::filesystem::remove_all(folder); }

  void check_files() {
    if (!lists.mappings_pending() && boost::filesystem::exists(mappings_file)) {
      mapping_repository read_back;
      read_back.load(mappings_file);
      if (keys(read_back) != keys(mappings)) std::abort();
      if (!devices.is_modified() && boost::filesystem::exists(devices_file)) {
        agent_repository devices_read_back{io, posting.poster(), channel, read_back, identity};
        devices_read_back.load(devices_file);
        if (keys(devices_read_back) != keys(devices)) std::abort();
      }
    }
  }

  std::string folder = (boost::filesystem::temp_directory_path() /
                        boost::filesystem::unique_path("tamro-fuzz-%%%%-%%%%"))
                           .string();
  bool created = boost::filesystem::create_directory(folder);
  std::string mappings_file = folder + "/mappings.xml";
  std::string devices_file = folder + "/devices.xml";
  boost::asio::io_context io;
  heartbeat_posting posting{io};
  agents::service_channel channel{io};
  host_identity identity;
  mapping_repository mappings;
  agent_repository devices{io, posting.poster(), channel, mappings, identity};
  agents::pushed_lists lists{mappings, devices, mappings_file, devices_file};
  agents::status_reporter reporter{io, posting.poster(), identity};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static lists_under_test state;
  const std::string reply(reinterpret_cast<const char*>(data), size);
  try {
    process_reply(state.reporter, reply);
  } catch (const std::exception&) {
    // What on_reply lets out is the caller's to log; the lists must still be whole.
  }
  state.check_files();
  return 0;
}
