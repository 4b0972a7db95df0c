#include "mapping/list_file_change.hpp"

#include <gtest/gtest.h>

#include <string>

#include "config/xml_file.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro {
namespace {

using test::temp_dir;
using test::write_file;

std::string devices(const std::string& items) { return "<devices>" + items + "</devices>"; }

std::string device(const std::string& address, int interval) {
  return "<device><ip-address>" + address + "</ip-address><heartbeat-interval>" +
         std::to_string(interval) + "</heartbeat-interval></device>";
}

// One snapshot across several writes, as the agent keeps it: each write is told against the
// one before it, and an operator's edit between writes is not the agent's change.
TEST(ListFileSnapshot, TellsEachWriteAgainstTheLastLook) {
  temp_dir dir;
  const std::string path = dir.file("devices.xml");
  write_file(path, devices(device("10.0.0.1", 60) + device("10.0.0.2", 60)));
  list_file_snapshot file(path, "devices", "ip-address");

  write_file(path, devices(device("10.0.0.1", 300) + device("10.0.0.2", 60)));
  auto change = file.changes();
  ASSERT_TRUE(change);
  EXPECT_EQ(2u, change->items);
  ASSERT_EQ(1u, change->changed.size());
  EXPECT_EQ("10.0.0.1", change->changed[0].key);
  const auto interval = change->changed[0].values.at("heartbeat-interval");
  EXPECT_EQ("60", interval.first.value_or("-"));
  EXPECT_EQ("300", interval.second.value_or("-"));

  EXPECT_FALSE(file.changes()) << "a second look without a write changes nothing";

  // The operator adds a device; the agent then changes the second interval.
  write_file(path,
             devices(device("10.0.0.1", 300) + device("10.0.0.2", 60) + device("10.0.0.3", 60)));
  file.refresh();
  write_file(path,
             devices(device("10.0.0.1", 300) + device("10.0.0.2", 300) + device("10.0.0.3", 60)));
  change = file.changes();
  ASSERT_TRUE(change);
  EXPECT_EQ(0u, change->added);
  ASSERT_EQ(1u, change->changed.size());
  EXPECT_EQ("10.0.0.2", change->changed[0].key);

  // The agent's own indented file beside the document it writes next, held in memory: the
  // layout between elements is no change.
  boost::property_tree::ptree document = read_xml_text(devices(device("10.0.0.1", 300)));
  write_xml_file(path, document);
  file.refresh();
  document.put("devices.device.heartbeat-interval", "60");
  write_xml_file(path, document);
  change = file.changes(document);
  ASSERT_TRUE(change);
  ASSERT_EQ(1u, change->changed.size());
  EXPECT_EQ(1u, change->changed[0].values.size()) << "only the interval differs";

  // A file that no longer parses counts as an empty list: every device is removed.
  write_file(path, "<devices><device>");
  change = file.changes();
  ASSERT_TRUE(change);
  EXPECT_EQ(1u, change->removed);
  EXPECT_EQ(0u, change->items);
}

}  // namespace
}  // namespace tamro
