#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <memory>
#include <sstream>
#include <string>

#include "agents/agent_repository.hpp"
#include "agents/snmp_poller.hpp"
#include "tests/agents/log_capture.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro {
namespace {

using agents::snmp_poller;
using boost::property_tree::ptree;

ptree parse(const std::string& xml) {
  std::istringstream in(xml);
  ptree tree;
  boost::property_tree::read_xml(in, tree);
  return tree;
}

std::string device(const std::string& address, const std::string& extra = "",
                   const std::string& mapping = "system") {
  return "<device><ip-address>" + address + "</ip-address><mapping-name>" + mapping +
         "</mapping-name>" + extra + "</device>";
}

std::string mapping_list(const std::string& names) {
  std::string xml = "<mappings>";
  std::istringstream in(names);
  for (std::string name; in >> name;)
    xml += "<mapping><name>" + name +
           "</name><mappers><variable><name>SYS_NAME</name><oid>.1.3.6.1.2.1.1.5.0</oid>"
           "</variable></mappers></mapping>";
  return xml + "</mappings>";
}

class AgentRepository : public ::testing::Test {
 protected:
  AgentRepository() {
    mappings.load(parse(mapping_list("system interfaces")).get_child("mappings"));
  }

  void load(const std::string& devices) {
    repository.load(parse("<devices>" + devices + "</devices>").get_child("devices"));
  }
  std::shared_ptr<snmp_poller> poller(const std::string& address) {
    return std::dynamic_pointer_cast<snmp_poller>(repository.get(address));
  }
  bool holds(const std::string& address) {
    for (const auto& entry : repository)
      if (entry.first == address) return true;
    return false;
  }

  test::log_capture log;
  boost::asio::io_context io;
  mapping_repository mappings;
  host_identity identity;
  agent_repository repository{io, mappings, identity};
};

TEST_F(AgentRepository, ReadsADeviceAndItsDefaults) {
  load(device("10.0.0.1") +
       device("10.0.0.2",
              "<udp-port>1161</udp-port><community>public</community>"
              "<snmp-version>V2C</snmp-version><heartbeat-interval>60</heartbeat-interval>",
              "interfaces"));
  ASSERT_EQ(repository.size(), 2u);

  const auto plain = poller("10.0.0.1");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->name(), "10.0.0.1");
  EXPECT_EQ(plain->peer, "10.0.0.1");
  EXPECT_EQ(plain->community, "vexrol");
  EXPECT_EQ(plain->version, 0);
  EXPECT_EQ(plain->interval, boost::posix_time::seconds(300));
  EXPECT_EQ(plain->mapping, mappings.get("system"));
  EXPECT_TRUE(log.contains("10.0.0.1 - SNMP poller created"));

  const auto full = poller("10.0.0.2");
  EXPECT_EQ(full->peer, "10.0.0.2:1161");
  EXPECT_EQ(full->community, "public");
  EXPECT_EQ(full->version, 1);
  EXPECT_EQ(full->interval, boost::posix_time::seconds(60));
  EXPECT_EQ(full->mapping, mappings.get("interfaces"));
}

TEST_F(AgentRepository, VersionsPortsAndIntervals) {
  load(device("10.0.0.1", "<snmp-version>3</snmp-version><udp-port>161</udp-port>") +
       device("10.0.0.2", "<snmp-version>2</snmp-version><udp-port>70000</udp-port>") +
       device("10.0.0.3", "<snmp-version>v1</snmp-version><udp-port>-1</udp-port>") +
       device("10.0.0.4", "<heartbeat-interval>abc</heartbeat-interval>"));
  EXPECT_EQ(poller("10.0.0.1")->version, 3);
  EXPECT_EQ(poller("10.0.0.1")->peer, "10.0.0.1");
  EXPECT_EQ(poller("10.0.0.2")->version, 1);
  EXPECT_EQ(poller("10.0.0.2")->peer, "10.0.0.2");
  EXPECT_EQ(poller("10.0.0.3")->version, 0);
  EXPECT_EQ(poller("10.0.0.3")->peer, "10.0.0.3");
  EXPECT_EQ(poller("10.0.0.4")->interval, boost::posix_time::seconds(300));
}

TEST_F(AgentRepository, SkipsEachBadDeviceWithItsReason) {
  load("<!-- a note -->" + device("10.0.0.300") + device("10.0.0.1", "", "nothing") +
       device("10.0.0.2", "<snmp-version>v2c </snmp-version>") +
       device("10.0.0.3", "<heartbeat-interval>0</heartbeat-interval>") +
       "<device><mapping-name>system</mapping-name></device>" +
       "<router><ip-address>10.0.0.4</ip-address></router>" + device("255.255.255.255"));
  ASSERT_EQ(repository.size(), 1u);
  EXPECT_TRUE(holds("255.255.255.255"));
  const std::string prefix = "Error while parsing device node: ";
  EXPECT_TRUE(log.contains(prefix + "Not a device node: <xmlcomment>"));
  EXPECT_TRUE(log.contains(prefix + "invalid agent IP address: 10.0.0.300"));
  EXPECT_TRUE(log.contains(prefix + "item nothing not found"));
  EXPECT_TRUE(log.contains(prefix + "unknown SNMP version v2c \n"));
  EXPECT_TRUE(log.contains(prefix + "invalid heartbeat interval 0"));
  EXPECT_TRUE(log.contains(prefix + "No such node (ip-address)"));
  EXPECT_TRUE(log.contains(prefix + "Not a device node: router"));
}

TEST_F(AgentRepository, ReloadRecyclesPollersAndKeepsTheirTiming) {
  load(device("10.0.0.1", "<heartbeat-interval>60</heartbeat-interval>") + device("10.0.0.2"));
  const auto first = poller("10.0.0.1");
  const auto second = poller("10.0.0.2");
  first->interval = boost::posix_time::seconds(600);  // as a server reply would set it
  const auto delivered = first->last_delivered;
  second->busy = true;
  log.clear();

  load(device("10.0.0.1", "<heartbeat-interval>30</heartbeat-interval><community>c</community>",
              "interfaces") +
       device("10.0.0.2"));
  EXPECT_EQ(poller("10.0.0.1"), first);
  EXPECT_EQ(poller("10.0.0.2"), second);
  EXPECT_EQ(log.count("SNMP poller recycled"), 2u);
  EXPECT_EQ(first->interval, boost::posix_time::seconds(600));
  EXPECT_EQ(first->last_delivered, delivered);
  EXPECT_EQ(first->community, "c");
  EXPECT_EQ(first->mapping, mappings.get("interfaces"));
  EXPECT_FALSE(first->recycled);
  EXPECT_TRUE(second->recycled);
}

TEST_F(AgentRepository, VersionIsKeptWhenAReloadOmitsIt) {
  load(device("10.0.0.1", "<snmp-version>v2c</snmp-version>"));
  load(device("10.0.0.1"));
  EXPECT_EQ(poller("10.0.0.1")->version, 1);
}

TEST_F(AgentRepository, DuplicateAddressUsesOnePollerAndTheLaterSettings) {
  load(device("10.0.0.1", "<community>one</community>") +
       device("10.0.0.1", "<community>two</community>"));
  EXPECT_EQ(repository.size(), 1u);
  EXPECT_EQ(poller("10.0.0.1")->community, "two");
  EXPECT_TRUE(log.contains("10.0.0.1 - SNMP poller recycled"));
}

TEST_F(AgentRepository, DroppedDeviceIsErasedWhenIdleAndMarkedDeadWhenBusy) {
  load(device("10.0.0.1") + device("10.0.0.2") + device("10.0.0.3"));
  const auto busy = poller("10.0.0.2");
  busy->busy = true;
  // A device that now fails is dropped as well.
  load(device("10.0.0.3", "<snmp-version>9</snmp-version>"));
  EXPECT_FALSE(holds("10.0.0.1"));
  EXPECT_FALSE(holds("10.0.0.3"));
  ASSERT_TRUE(holds("10.0.0.2"));
  EXPECT_TRUE(busy->dead);
  EXPECT_TRUE(log.contains("10.0.0.1 - removing orphaned agent from list of known agents"));
  EXPECT_TRUE(
      log.contains("10.0.0.2 - orphaned agent is busy and cannot be removed from list "
                   "of known agents - marking as dead"));

  repository.sweep_dead();
  EXPECT_TRUE(holds("10.0.0.2"));
  busy->busy = false;
  repository.sweep_dead();
  EXPECT_FALSE(holds("10.0.0.2"));
  EXPECT_TRUE(log.contains("10.0.0.2 - removing dead agent from list of known agents"));
}

TEST_F(AgentRepository, NewPollersSpreadTheirFirstHeartbeatOverTenTicks) {
  const auto before = boost::posix_time::second_clock::universal_time();
  std::string list;
  for (int i = 1; i <= 20; ++i) list += device("10.0.1." + std::to_string(i));
  load(list);
  const auto after = boost::posix_time::second_clock::universal_time();
  std::set<long> slots;
  for (const auto& entry : repository) {
    const auto& delivered = entry.second->last_delivered;
    ASSERT_FALSE(delivered.is_not_a_date_time());
    const long back = (before - delivered).total_seconds();
    const long slot = (back + 29) / 30;
    EXPECT_GE(slot, 0);
    EXPECT_LE(slot, 9);
    EXPECT_LE((after - delivered).total_seconds() - slot * 30, 1);
    slots.insert(slot);
  }
  EXPECT_GT(slots.size(), 3u);
}

TEST_F(AgentRepository, RefreshTakesTheNewMappingsAndRetiresOrphans) {
  load(device("10.0.0.1") + device("10.0.0.2", "", "interfaces") +
       device("10.0.0.3", "", "interfaces"));
  poller("10.0.0.3")->busy = true;
  const auto old_system = mappings.get("system");
  mappings.load(parse(mapping_list("system")).get_child("mappings"));
  EXPECT_FALSE(repository.is_modified());

  repository.refresh_mappings();
  EXPECT_EQ(poller("10.0.0.1")->mapping, mappings.get("system"));
  EXPECT_NE(poller("10.0.0.1")->mapping, old_system);
  EXPECT_FALSE(holds("10.0.0.2"));
  EXPECT_TRUE(poller("10.0.0.3")->dead);
  EXPECT_TRUE(log.contains("10.0.0.2 - no longer monitored: item interfaces not found"));
  EXPECT_TRUE(repository.is_modified());
}

TEST_F(AgentRepository, SavesWhatItHoldsAndClearsTheChanges) {
  test::temp_dir dir;
  load(device("10.0.0.2", "<udp-port>162</udp-port><snmp-version>2c</snmp-version>") +
       device("10.0.0.1", "<udp-port>161</udp-port><heartbeat-interval>45</heartbeat-interval>"));
  poller("10.0.0.2")->interval = boost::posix_time::seconds(90);
  poller("10.0.0.2")->interval_changed = true;
  EXPECT_TRUE(repository.is_modified());

  repository.save_devices(dir.file("devices.xml"));
  EXPECT_FALSE(repository.is_modified());
  EXPECT_FALSE(poller("10.0.0.2")->interval_changed);
  EXPECT_EQ(test::read_file(dir.file("devices.xml")),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<!--Do not add comments to this file: they will be lost-->\n"
            "<devices>\n"
            "  <device>\n"
            "    <ip-address>10.0.0.1</ip-address>\n"
            "    <snmp-version>v1</snmp-version>\n"
            "    <community>vexrol</community>\n"
            "    <mapping-name>system</mapping-name>\n"
            "    <heartbeat-interval>45</heartbeat-interval>\n"
            "  </device>\n"
            "  <device>\n"
            "    <ip-address>10.0.0.2</ip-address>\n"
            "    <udp-port>162</udp-port>\n"
            "    <snmp-version>v2c</snmp-version>\n"
            "    <community>vexrol</community>\n"
            "    <mapping-name>system</mapping-name>\n"
            "    <heartbeat-interval>90</heartbeat-interval>\n"
            "  </device>\n"
            "</devices>\n");

  // A failed save keeps the changes pending.
  repository.mark_modified();
  EXPECT_ANY_THROW(repository.save_devices(dir.file("missing/devices.xml")));
  EXPECT_TRUE(repository.is_modified());

  agent_repository reread(io, mappings, identity);
  reread.load(dir.file("devices.xml"));
  EXPECT_EQ(reread.size(), 2u);
}

}  // namespace
}  // namespace tamro
