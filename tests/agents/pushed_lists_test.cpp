#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/filesystem.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <sstream>
#include <string>

#include "agents/agent_repository.hpp"
#include "agents/pushed_lists.hpp"
#include "agents/snmp_poller.hpp"
#include "tests/agents/log_capture.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro::agents {
namespace {

using boost::property_tree::ptree;

ptree parse(const std::string& xml) {
  std::istringstream in(xml);
  ptree tree;
  boost::property_tree::read_xml(in, tree);
  return tree;
}

std::string mapping(const std::string& name) {
  return "<mapping><name>" + name +
         "</name><mappers><variable><name>SYS_NAME</name><oid>.1.3.6.1.2.1.1.5.0</oid>"
         "</variable></mappers></mapping>";
}

std::string device(const std::string& address, const std::string& mapping_name) {
  return "<device><ip-address>" + address + "</ip-address><mapping-name>" + mapping_name +
         "</mapping-name></device>";
}

ptree reply(const std::string& content) {
  return parse("<heartbeat-reply><heartbeat-interval>300</heartbeat-interval>" + content +
               "</heartbeat-reply>");
}

class PushedLists : public ::testing::Test {
 protected:
  PushedLists() {
    mappings.load(parse("<mappings>" + mapping("old") + "</mappings>").get_child("mappings"));
    devices.load(
        parse("<devices>" + device("10.0.0.1", "old") + "</devices>").get_child("devices"));
  }

  std::shared_ptr<snmp_poller> poller(const std::string& address) {
    return std::dynamic_pointer_cast<snmp_poller>(devices.get(address));
  }

  test::log_capture log;
  test::temp_dir dir;
  boost::asio::io_context io;
  host_identity identity;
  mapping_repository mappings;
  agent_repository devices{io, mappings, identity};
  std::string mappings_file = dir.file("mappings.xml");
  std::string devices_file = dir.file("devices.xml");
  pushed_lists lists{mappings, devices, mappings_file, devices_file};
};

TEST_F(PushedLists, BothListsAreAppliedMappingsFirstAndSaved) {
  lists.receive_lists(reply("<devices>" + device("10.0.0.2", "new") + "</devices><mappings>" +
                            mapping("new") + "</mappings>"));
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(poller("10.0.0.2")->mapping->name(), "new");
  EXPECT_NE(test::read_file(mappings_file).find("<name>new</name>"), std::string::npos);
  const std::string saved = test::read_file(devices_file);
  EXPECT_NE(saved.find("<!--Do not add comments to this file: they will be lost-->"),
            std::string::npos);
  EXPECT_NE(saved.find("\n    <ip-address>10.0.0.2</ip-address>\n"), std::string::npos);
  EXPECT_EQ(saved.find("10.0.0.1"), std::string::npos);
  EXPECT_FALSE(devices.is_modified());
  EXPECT_FALSE(log.contains("refreshing SNMP pollers' variable mappings"));
}

TEST_F(PushedLists, MappingsAloneRefreshThePollers) {
  const auto kept = poller("10.0.0.1");
  lists.receive_lists(reply("<mappings>" + mapping("old") + "</mappings>"));
  EXPECT_EQ(kept->mapping, mappings.get("old"));
  EXPECT_FALSE(devices.is_modified());

  lists.receive_lists(reply("<mappings>" + mapping("other") + "</mappings>"));
  EXPECT_TRUE(devices.empty());
  EXPECT_TRUE(log.contains("10.0.0.1 - no longer monitored: item old not found"));
  // The devices file is rewritten by the next tick.
  EXPECT_TRUE(devices.is_modified());
}

TEST_F(PushedLists, ReplyWithoutListsChangesNothing) {
  lists.receive_lists(reply("<requested-alarms/>"));
  EXPECT_EQ(devices.size(), 1u);
  EXPECT_FALSE(boost::filesystem::exists(mappings_file));
  EXPECT_FALSE(boost::filesystem::exists(devices_file));
}

TEST_F(PushedLists, UnwritableFilesKeepTheListsAndAreRetried) {
  const std::string folder = dir.file("config");
  mappings_file = folder + "/mappings.xml";
  devices_file = folder + "/devices.xml";

  EXPECT_NO_THROW(lists.receive_lists(reply("<mappings>" + mapping("new") + "</mappings><devices>" +
                                            device("10.0.0.2", "new") + "</devices>")));
  EXPECT_EQ(poller("10.0.0.2")->mapping->name(), "new");
  EXPECT_TRUE(log.contains("could not save changes to " + mappings_file + ": "));
  EXPECT_TRUE(log.contains("could not save changes to " + devices_file + ": "));
  EXPECT_TRUE(lists.mappings_pending());
  EXPECT_TRUE(devices.is_modified());

  lists.save_pending();
  EXPECT_TRUE(lists.mappings_pending());

  boost::filesystem::create_directory(folder);
  lists.save_pending();
  devices.save_devices(devices_file);
  EXPECT_FALSE(lists.mappings_pending());
  EXPECT_NE(test::read_file(mappings_file).find("<name>new</name>"), std::string::npos);
  EXPECT_NE(test::read_file(devices_file).find("10.0.0.2"), std::string::npos);
}

}  // namespace
}  // namespace tamro::agents
