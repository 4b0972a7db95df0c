#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/filesystem.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <sstream>
#include <string>

#include "agents/pushed_lists.hpp"
#include "agents/service_channel.hpp"
#include "reporting/heartbeat_posting.hpp"
#include "tests/support/agent_support.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro::agents {
namespace {

boost::property_tree::ptree parse(const std::string& xml) {
  std::istringstream in(xml);
  boost::property_tree::ptree tree;
  boost::property_tree::read_xml(in, tree);
  return tree;
}

std::string mappings(const std::string& name) {
  return "<mappings><mapping><name>" + name + "</name><mappers/></mapping></mappings>";
}

std::string devices(const std::string& mapping) {
  return "<devices><device><ip-address>10.0.0.1</ip-address><mapping-name>" + mapping +
         "</mapping-name></device></devices>";
}

void receive(pushed_lists& lists, const std::string& content) {
  lists.receive_lists(parse("<heartbeat-reply>" + content + "</heartbeat-reply>"));
}

struct PushedLists : ::testing::Test {
  PushedLists() {
    mapping_list.load(parse(mappings("old")).get_child("mappings"));
    device_list.load(parse(devices("old")).get_child("devices"));
  }

  test::captured_log log;
  test::temp_dir dir;
  boost::asio::io_context io;
  heartbeat_posting posting{io};
  service_channel channel{io};
  host_identity identity;
  mapping_repository mapping_list;
  agent_repository device_list{io, posting.poster(), channel, mapping_list, identity};
  std::string mappings_file = dir.file("config/mappings.xml");
  std::string devices_file = dir.file("config/devices.xml");
  pushed_lists lists{mapping_list, device_list, mappings_file, devices_file};
};

TEST_F(PushedLists, MappingsAloneRetireTheDevicesWhoseMappingIsGone) {
  boost::filesystem::create_directory(dir.file("config"));
  receive(lists, mappings("new"));
  EXPECT_TRUE(device_list.empty());
  EXPECT_TRUE(log.has('E', "10.0.0.1 - no longer monitored: item old not found"));
  EXPECT_TRUE(device_list.is_modified());  // the next tick rewrites the devices file
  EXPECT_NE(test::read_file(mappings_file).find("<name>new</name>"), std::string::npos);
}

TEST_F(PushedLists, UnwritableFilesKeepTheLoadedListsAndAreRetried) {
  EXPECT_NO_THROW(receive(lists, devices("new") + mappings("new")));
  // Mappings come first: the pushed device names a pushed mapping.
  EXPECT_EQ(device_list.get("10.0.0.1")->settings().mapping->name(), "new");
  EXPECT_TRUE(log.has_prefix('E', "could not save changes to " + mappings_file + ": "));
  EXPECT_TRUE(log.has_prefix('E', "could not save changes to " + devices_file + ": "));
  EXPECT_TRUE(lists.mappings_pending());
  EXPECT_TRUE(device_list.is_modified());

  lists.save_pending();
  EXPECT_TRUE(lists.mappings_pending());
  boost::filesystem::create_directory(dir.file("config"));
  lists.save_pending();
  EXPECT_FALSE(lists.mappings_pending());
  EXPECT_NE(test::read_file(mappings_file).find("<name>new</name>"), std::string::npos);
}

// What the server changed in the operator's files is in the log, one line per write; a list
// that leaves a file as it was writes nothing and says nothing.
TEST_F(PushedLists, EachRewriteOfAFileLogsWhatChanged) {
  boost::filesystem::create_directory(dir.file("config"));
  const auto device = [](const std::string& address, const std::string& community) {
    return "<device><ip-address>" + address + "</ip-address><community>" + community +
           "</community><mapping-name>old</mapping-name></device>";
  };
  receive(lists, "<devices>" + device("10.0.0.1", "public") + "</devices>");
  EXPECT_TRUE(log.has('I',
                      "device list replaced by the server: 1 devices (1 added, 0 removed, "
                      "0 changed) (" +
                          devices_file + ")"))
      << log.text();
  receive(lists, mappings("old") + "<devices>" + device("10.0.0.2", "public") +
                     device("10.0.0.3", "public") + device("10.0.0.1", "private") + "</devices>");
  EXPECT_TRUE(log.has('I',
                      "mapping list replaced by the server: 1 mappings (1 added, 0 removed, "
                      "0 changed) (" +
                          mappings_file + ")"));
  EXPECT_TRUE(log.has('I',
                      "device list replaced by the server: 3 devices (2 added, 0 removed, "
                      "1 changed) (" +
                          devices_file + ")"));
  receive(lists, mappings("old") + "<devices>" + device("10.0.0.3", "public") + "</devices>");
  EXPECT_TRUE(log.has('I',
                      "device list replaced by the server: 1 devices (0 added, 2 removed, "
                      "0 changed) (" +
                          devices_file + ")"));
  const int lines = log.count('I');
  receive(lists, mappings("old") + "<devices>" + device("10.0.0.3", "public") + "</devices>");
  EXPECT_EQ(log.count('I'), lines) << log.text();
}

}  // namespace
}  // namespace tamro::agents
