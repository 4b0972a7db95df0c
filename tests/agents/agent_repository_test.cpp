#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "agents/agent_repository.hpp"
#include "agents/device_address.hpp"
#include "reporting/heartbeat_posting.hpp"
#include "snmp/netsnmp/error_category.hpp"
#include "tests/agents/scripted_channel.hpp"
#include "tests/support/agent_support.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro {
namespace {

using boost::posix_time::seconds;
using boost::property_tree::ptree;

ptree parse(const std::string& xml, const std::string& root) {
  std::istringstream in(xml);
  ptree tree;
  boost::property_tree::read_xml(in, tree);
  return tree.get_child(root);
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
    xml += "<mapping><name>" + name + "</name><mappers/></mapping>";
  return xml + "</mappings>";
}

class AgentRepository : public ::testing::Test {
 protected:
  AgentRepository() { mappings.load(parse(mapping_list("system interfaces"), "mappings")); }

  void load(const std::string& devices) {
    repository.load(parse("<devices>" + devices + "</devices>", "devices"));
  }
  std::shared_ptr<agents::snmp_poller> poller(const std::string& address) {
    return repository.get(address);
  }
  // A cycle whose GET stays unanswered until the test ends it.
  void make_busy(const std::string& address) {
    poller(address)->start_heartbeat();
    ASSERT_TRUE(poller(address)->busy());
  }
  // The completions of cancelled requests.
  void run() {
    io.restart();
    io.poll();
  }
  bool holds(const std::string& address) {
    for (const auto& entry : repository)
      if (entry.first == address) return true;
    return false;
  }

  test::captured_log log;
  boost::asio::io_context io;
  heartbeat_posting posting{io};
  agents::test_support::scripted_channel channel{io};
  mapping_repository mappings;
  host_identity identity;
  agent_repository repository{io, posting.poster(), channel, mappings, identity};
};

TEST_F(AgentRepository, ReadsDevicesWithTheirDefaults) {
  load(device("10.0.0.1") +
       device("10.0.0.2",
              "<udp-port>1161</udp-port><community>public</community>"
              "<snmp-version>V2C</snmp-version><heartbeat-interval>60</heartbeat-interval>",
              "interfaces") +
       device("10.0.0.3",
              "<udp-port>161</udp-port><snmp-version>3</snmp-version>"
              "<heartbeat-interval>abc</heartbeat-interval>") +
       device("10.0.0.4", "<udp-port>70000</udp-port><snmp-version>2</snmp-version>"));
  const auto& plain = poller("10.0.0.1")->settings();
  EXPECT_EQ(plain.peer, "10.0.0.1");
  EXPECT_EQ(plain.community, "vexrol");
  EXPECT_EQ(plain.version, 0);
  EXPECT_EQ(poller("10.0.0.1")->interval, seconds(300));
  EXPECT_EQ(plain.mapping, mappings.get("system"));
  EXPECT_TRUE(log.has('D', "10.0.0.1 - SNMP poller created"));

  const auto& full = poller("10.0.0.2")->settings();
  EXPECT_EQ(full.peer, "10.0.0.2:1161");
  EXPECT_EQ(full.community, "public");
  EXPECT_EQ(full.version, 1);
  EXPECT_EQ(poller("10.0.0.2")->interval, seconds(60));
  EXPECT_EQ(full.mapping, mappings.get("interfaces"));

  EXPECT_EQ(poller("10.0.0.3")->settings().peer, "10.0.0.3");
  EXPECT_EQ(poller("10.0.0.3")->settings().version, 3);
  EXPECT_EQ(poller("10.0.0.3")->interval, seconds(300));
  EXPECT_EQ(poller("10.0.0.4")->settings().peer, "10.0.0.4");
  EXPECT_EQ(poller("10.0.0.4")->settings().version, 1);
}

TEST_F(AgentRepository, SkipsEachBadDeviceWithItsReason) {
  load("<!-- a note -->" + device("10.0.0.300") + device("10.0.0.1", "", "nothing") +
       device("10.0.0.2", "<snmp-version>v2c </snmp-version>") +
       device("10.0.0.3", "<heartbeat-interval>0</heartbeat-interval>") +
       "<device><mapping-name>system</mapping-name></device>" + device("255.255.255.255"));
  ASSERT_EQ(repository.size(), 1u);
  EXPECT_TRUE(holds("255.255.255.255"));
  for (const char* reason :
       {"invalid agent IP address: 10.0.0.300", "item nothing not found",
        "unknown SNMP version v2c ", "invalid heartbeat interval 0", "No such node (ip-address)"})
    EXPECT_TRUE(log.has('E', std::string("Error while parsing device node: ") + reason)) << reason;
  EXPECT_EQ(log.count('E'), 5) << "the comment is a note, not a bad device";
}

TEST_F(AgentRepository, ReloadReconfiguresThePollersItKeeps) {
  load(device("10.0.0.1", "<snmp-version>v2c</snmp-version>") + device("10.0.0.2") +
       device("10.0.0.3") + device("10.0.0.4"));
  const auto kept = poller("10.0.0.1");
  kept->interval = seconds(600);  // as a server reply would set it
  const auto delivered = kept->last_delivered;
  const auto busy = poller("10.0.0.2");
  make_busy("10.0.0.2");
  make_busy("10.0.0.3");

  load(device("10.0.0.1", "<heartbeat-interval>30</heartbeat-interval><community>c</community>",
              "interfaces") +
       device("10.0.0.2") + device("10.0.0.4", "<snmp-version>9</snmp-version>"));
  EXPECT_EQ(poller("10.0.0.1"), kept);
  EXPECT_EQ(poller("10.0.0.2"), busy);
  EXPECT_TRUE(log.has('D', "10.0.0.1 - SNMP poller recycled"));
  EXPECT_EQ(kept->interval, seconds(600));
  EXPECT_EQ(kept->last_delivered, delivered);
  EXPECT_EQ(kept->settings().version, 1);
  EXPECT_EQ(kept->settings().community, "c");
  EXPECT_EQ(kept->settings().mapping, mappings.get("interfaces"));
  EXPECT_EQ(busy->disposition(), cycle_disposition::none)
      << "listed again as it was: its answer in flight is kept";
  // Gone or failing: erased when idle, retired when busy, swept once idle.
  EXPECT_FALSE(holds("10.0.0.4"));
  EXPECT_TRUE(log.has('D', "10.0.0.4 - removing orphaned agent from list of known agents"));
  const auto dead = poller("10.0.0.3");
  EXPECT_TRUE(dead->retired());
  EXPECT_TRUE(dead->busy());
  repository.sweep_dead();
  EXPECT_TRUE(holds("10.0.0.3"));

  load(device("10.0.0.1", "<heartbeat-interval>30</heartbeat-interval><community>c</community>",
              "interfaces") +
       device("10.0.0.2", "<community>other</community>") +
       device("10.0.0.4", "<snmp-version>9</snmp-version>"));
  EXPECT_EQ(busy->disposition(), cycle_disposition::discard)
      << "asked for with a community that no longer holds";
  run();
  EXPECT_FALSE(busy->busy()) << "its request was cancelled";
  EXPECT_TRUE(log.has('D', "10.0.0.2 - recently recycled, ignoring SNMP error \"" +
                               netsnmp::make_error_code(netsnmp::aborted).message() + "\""));

  repository.sweep_dead();
  EXPECT_FALSE(holds("10.0.0.3"));
  EXPECT_TRUE(log.has('D', "10.0.0.3 - removing dead agent from list of known agents"));

  // Dropped while busy and listed again before the sweep: monitored again, not swept.
  make_busy("10.0.0.2");
  load(device("10.0.0.1"));
  EXPECT_TRUE(busy->retired());
  load(device("10.0.0.1") + device("10.0.0.2"));
  EXPECT_EQ(poller("10.0.0.2"), busy);
  EXPECT_FALSE(busy->retired());
  run();
  repository.sweep_dead();
  EXPECT_TRUE(holds("10.0.0.2"));
  EXPECT_FALSE(busy->busy());
}

TEST_F(AgentRepository, NewPollersSpreadTheirFirstHeartbeatOverTenTicks) {
  const auto now = boost::posix_time::second_clock::universal_time();
  std::string list;
  for (int i = 1; i <= 20; ++i) list += device("10.0.1." + std::to_string(i));
  load(list);
  std::set<long> slots;
  for (const auto& entry : repository) {
    const long back = (now - entry.second->last_delivered).total_seconds();
    const long slot = (back + 1) / 30;  // the clock may have ticked during the load
    EXPECT_LE(std::abs(back - slot * 30), 1);
    slots.insert(slot);
  }
  EXPECT_GE(*slots.begin(), 0);
  EXPECT_LE(*slots.rbegin(), 9);
  EXPECT_GT(slots.size(), 3u);
}

TEST_F(AgentRepository, RefreshTakesTheNewMappingsAndRetiresOrphans) {
  load(device("10.0.0.1") + device("10.0.0.2", "", "interfaces") +
       device("10.0.0.3", "", "interfaces"));
  make_busy("10.0.0.3");
  const auto old_system = mappings.get("system");
  mappings.load(parse(mapping_list("system"), "mappings"));

  repository.refresh_mappings();
  EXPECT_EQ(poller("10.0.0.1")->settings().mapping, mappings.get("system"));
  EXPECT_NE(poller("10.0.0.1")->settings().mapping, old_system);
  EXPECT_FALSE(holds("10.0.0.2"));
  EXPECT_TRUE(poller("10.0.0.3")->retired());
  EXPECT_TRUE(log.has('E', "10.0.0.2 - no longer monitored: item interfaces not found"));
  EXPECT_TRUE(repository.is_modified());
}

TEST_F(AgentRepository, SavesWhatItHoldsAndClearsTheChanges) {
  test::temp_dir dir;
  load(device("10.0.0.2", "<udp-port>162</udp-port><snmp-version>2c</snmp-version>") +
       device("10.0.0.1", "<udp-port>161</udp-port><heartbeat-interval>45</heartbeat-interval>"));
  poller("10.0.0.2")->interval = seconds(90);
  poller("10.0.0.2")->interval_changed = true;
  EXPECT_TRUE(repository.is_modified());

  EXPECT_ANY_THROW(repository.save_devices(dir.file("missing/devices.xml")));
  EXPECT_TRUE(repository.is_modified());
  repository.save_devices(dir.file("devices.xml"));
  EXPECT_FALSE(repository.is_modified());
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
}

TEST_F(AgentRepository, SnmpV3ElementsAreCheckedDefaultedAndSavedBack) {
  const std::string v3 = "<snmp-version>v3</snmp-version>";
  load(device("10.0.0.1", v3 + "<security-name>ops</security-name>"
                               "<auth-passphrase>auth-secret</auth-passphrase>"
                               "<privacy-protocol>aes-256</privacy-protocol>"
                               "<privacy-passphrase>priv-secret</privacy-passphrase>"
                               "<context-name>vrf-1</context-name><timeout>2</timeout>") +
       device("10.0.0.2", v3 + "<community>legacy</community>") +
       device("10.0.0.3",
              v3 + "<security-level>AUTHNOPRIV</security-level>"
                   "<auth-protocol>SHA-512</auth-protocol>"
                   "<auth-passphrase>auth-secret</auth-passphrase><retries>3</retries>") +
       device("10.0.0.4", v3 + "<security-level>authPriv</security-level>"
                               "<auth-passphrase>auth-secret</auth-passphrase>") +
       device("10.0.0.5", v3 + "<auth-passphrase>short</auth-passphrase>") +
       device("10.0.0.6", v3 + "<auth-protocol>SHA-1024</auth-protocol>") +
       device("10.0.0.7", "<timeout>0</timeout>") +
       device("10.0.0.8", "<auth-protocol>ignored on v1</auth-protocol>"));

  const auto& full = poller("10.0.0.1")->settings();
  EXPECT_EQ(full.usm.level, snmp::security_level::auth_priv);
  EXPECT_EQ(full.usm.auth, snmp::auth_protocol::sha);
  EXPECT_EQ(full.usm.privacy, snmp::privacy_protocol::aes256);
  EXPECT_EQ(full.timeout, 2);
  // Written for the old behaviour: the community is the user, without security.
  EXPECT_EQ(poller("10.0.0.2")->wanted_session().usm.security_name, "legacy");
  EXPECT_EQ(poller("10.0.0.2")->settings().usm.level, snmp::security_level::no_auth_no_priv);
  EXPECT_EQ(poller("10.0.0.3")->settings().usm.level, snmp::security_level::auth_no_priv);
  EXPECT_EQ(poller("10.0.0.3")->wanted_session().retries, 3);
  EXPECT_TRUE(holds("10.0.0.8"));
  for (const char* reason :
       {"privacy-passphrase is missing", "auth-passphrase is shorter than 8 characters",
        "auth-protocol: \"SHA-1024\" is not one of MD5, SHA, SHA-224, SHA-256, SHA-384, SHA-512",
        "timeout \"0\" is not a number from 1 to 2147"})
    EXPECT_TRUE(log.has('E', std::string("Error while parsing device node: ") + reason)) << reason;
  EXPECT_EQ(repository.size(), 4u);

  // A busy poller whose credentials change asks again.
  make_busy("10.0.0.3");
  load(device("10.0.0.1", v3 + "<security-name>ops</security-name>"
                               "<auth-passphrase>auth-secret</auth-passphrase>"
                               "<privacy-protocol>aes-256</privacy-protocol>"
                               "<privacy-passphrase>priv-secret</privacy-passphrase>"
                               "<context-name>vrf-1</context-name><timeout>2</timeout>") +
       device("10.0.0.3", v3 + "<auth-passphrase>other-secret</auth-passphrase>"));
  EXPECT_EQ(poller("10.0.0.3")->disposition(), cycle_disposition::discard);

  test::temp_dir dir;
  repository.save_devices(dir.file("devices.xml"));
  const std::string saved = test::read_file(dir.file("devices.xml"));
  EXPECT_NE(saved.find("<ip-address>10.0.0.1</ip-address>\n"
                       "    <snmp-version>v3</snmp-version>\n"
                       "    <community>vexrol</community>\n"
                       "    <mapping-name>system</mapping-name>\n"
                       "    <heartbeat-interval>300</heartbeat-interval>\n"
                       "    <security-name>ops</security-name>\n"
                       "    <security-level>authPriv</security-level>\n"
                       "    <auth-protocol>SHA</auth-protocol>\n"
                       "    <auth-passphrase>auth-secret</auth-passphrase>\n"
                       "    <privacy-protocol>AES-256</privacy-protocol>\n"
                       "    <privacy-passphrase>priv-secret</privacy-passphrase>\n"
                       "    <context-name>vrf-1</context-name>\n"
                       "    <timeout>2</timeout>\n"),
            std::string::npos)
      << saved;
  agent_repository again{io, posting.poster(), channel, mappings, identity};
  again.load(dir.file("devices.xml"));
  for (const char* address : {"10.0.0.1", "10.0.0.3"}) {
    const auto read_back = again.get(address);
    EXPECT_EQ(read_back->wanted_session(), poller(address)->wanted_session()) << address;
  }
}

// However an IPv6 address is written, it names one device, under its canonical form, and
// is polled over UDP on IPv6.
TEST_F(AgentRepository, Ipv6DevicesGoByTheirCanonicalAddress) {
  load(device("2001:DB8:0:0::1", "<udp-port>1161</udp-port>") + device("::1") +
       device("fe80::1%eth0") + device("0:0:0:0:0:0:0:1", "<community>second</community>"));
  ASSERT_EQ(repository.size(), 2u);
  const auto routed = poller("2001:db8::1");
  EXPECT_EQ(routed->settings().address, "2001:db8::1");
  EXPECT_EQ(routed->settings().peer, "udp6:[2001:db8::1]:1161");
  const auto loopback = poller("::1");
  EXPECT_EQ(loopback->settings().peer, "udp6:[::1]:161");
  EXPECT_EQ(loopback->settings().community, "second");
  EXPECT_TRUE(log.has('D', "::1 - SNMP poller recycled"));
  EXPECT_TRUE(
      log.has('E', "Error while parsing device node: invalid agent IP address: fe80::1%eth0"));

  test::temp_dir dir;
  repository.save_devices(dir.file("devices.xml"));
  const std::string saved = test::read_file(dir.file("devices.xml"));
  EXPECT_NE(saved.find("<ip-address>2001:db8::1</ip-address>\n    <udp-port>1161</udp-port>\n"),
            std::string::npos)
      << saved;
  EXPECT_NE(saved.find("<ip-address>::1</ip-address>\n    <snmp-version>"), std::string::npos)
      << saved;
}

TEST(DeviceAddress, CanonicalFormsAndPeers) {
  for (const auto& [text, canonical] : std::vector<std::pair<std::string, std::string>>{
           {"10.0.0.1", "10.0.0.1"},
           {"255.255.255.255", "255.255.255.255"},
           {"::1", "::1"},
           {"0:0:0:0:0:0:0:1", "::1"},
           {"::", "::"},
           {"2001:0DB8:0000:0000:0000:FF00:0042:8329", "2001:db8::ff00:42:8329"},
           {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},     // the first of equal runs
           {"2001:db8:0:1:0:0:0:1", "2001:db8:0:1::1"},       // the longest run
           {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero group stays
           {"fe80::", "fe80::"},
           {"::ffff:192.0.2.1", "::ffff:192.0.2.1"},
           {"::FFFF:c000:0201", "::ffff:192.0.2.1"},
       })
    EXPECT_EQ(canonical_ip_address(text).value_or("(refused)"), canonical) << text;
  for (const char* text : {"", "10.0.0.300", "10.0.0", "1:2:3:4:5:6:7:8:9", ":::1", "[::1]",
                           "fe80::1%eth0", "2001:db8::g", " ::1"})
    EXPECT_FALSE(canonical_ip_address(text)) << text;

  for (const auto& [address, port, peer, written] :
       std::vector<std::tuple<std::string, unsigned, std::string, std::string>>{
           {"10.0.0.1", 161, "10.0.0.1", ""},
           {"10.0.0.1", 1161, "10.0.0.1:1161", "1161"},
           {"::1", 161, "udp6:[::1]:161", ""},
           {"2001:db8::1", 1161, "udp6:[2001:db8::1]:1161", "1161"},
       }) {
    EXPECT_EQ(snmp_peer(address, port), peer);
    EXPECT_EQ(peer_udp_port(peer), written) << peer;
  }
}

}  // namespace
}  // namespace tamro
