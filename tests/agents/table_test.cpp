// Tables walked into heartbeat sections, against snmpd's own interface and storage tables.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "agents/snmp_poller.hpp"
#include "mapping/mappers/oid_variable.hpp"
#include "mapping/mappers/table.hpp"
#include "snmp/table_walk.hpp"
#include "tests/agents/polling_fixture.hpp"
#include "tests/support/snmpd.hpp"

namespace tamro::agents {
namespace {

const std::string if_descr = ".1.3.6.1.2.1.2.2.1.2";
const std::string if_type = ".1.3.6.1.2.1.2.2.1.3";
const std::string storage_descr = ".1.3.6.1.2.1.25.2.3.1.3";
const std::string slow_column = ".1.3.6.1.4.1.99999.66.1";
const std::string stuck_column = ".1.3.6.1.4.1.99999.67.1";

std::shared_ptr<const mapping> tables(const std::string& xml) {
  std::istringstream in("<mappers>" + xml + "</mappers>");
  boost::property_tree::ptree tree;
  boost::property_tree::read_xml(in, tree);
  std::vector<std::shared_ptr<const mapper>> mappers;
  for (const auto& child : tree.get_child("mappers"))
    mappers.push_back(std::make_shared<mappers::table>(child.second));
  return std::make_shared<const mapping>("tables", std::move(mappers));
}

std::string column(const std::string& name, const std::string& oid) {
  return "<column><name>" + name + "</name><oid>" + oid + "</oid></column>";
}

// index -> value of one column, from snmpwalk's lines.
std::map<std::string, std::string> walked(const test::snmpd& device, const std::string& oid) {
  std::map<std::string, std::string> cells;
  for (const std::string& line : device.walk(oid)) {
    const auto blank = line.find(' ');
    cells[line.substr(oid.size() + 1, blank - oid.size() - 1)] =
        blank == std::string::npos ? "" : line.substr(blank + 1);
  }
  return cells;
}

// The slow column answers GETNEXT in its subtree with one row; the first call after the
// file named was made takes two seconds. The stuck column answers every GETNEXT in its
// subtree with its row 2: it does not move forward.
test::snmpd_options quirky_columns(const test::temp_dir& dir, const std::string& pause_file) {
  const auto pause = test::child_path(pause_file);
  test::write_file(dir.file("slow.sh"),
                   "[ -e " + pause + " ] && rm " + pause +
                       " && sleep 2\n[ \"$1\" = -n ] && [ \"$2\" = " + slow_column +
                       " ] && printf '%s.7\\ninteger\\n42\\n' \"$2\"\n");
  test::write_file(dir.file("stuck.sh"),
                   "[ \"$1\" = -n ] && printf '" + stuck_column + ".2\\ninteger\\n7\\n'\n");
  test::snmpd_options options;
  options.extra_lines = {
      "pass " + slow_column + " /bin/sh " + test::child_path(dir.file("slow.sh")),
      "pass " + stuck_column + " /bin/sh " + test::child_path(dir.file("stuck.sh"))};
  return options;
}

// The values of some columns walked through a session of the service alone, with
// requests of the given shape.
snmp::oid_value_map walk_alone(boost::asio::io_context& io, const test::snmpd& device,
                               const std::set<std::string>& columns, std::size_t max_rows,
                               snmp::walk_shape shape) {
  auto& service = boost::asio::use_service<snmp::service>(io);
  snmp::service::session_handle session = nullptr;
  boost::system::error_code error;
  service.open(error, session, 1, device.peer(), "public");
  EXPECT_FALSE(error) << error.message();
  snmp::table_walk walk(columns, 1, max_rows, shape);
  while (!error && !walk.finished()) {
    snmp::pdu request = walk.next_request();
    service.async_send(session, request, [&](const boost::system::error_code& e, snmp::pdu* r) {
      error = e;
      if (!e) walk.take(*r->get());
    });
    io.restart();
    io.run();
    EXPECT_TRUE(walk.new_failures().empty());
  }
  EXPECT_FALSE(error) << error.message();
  service.close(session);
  return walk.values();
}

// Rows in OID order: "10" after "9", whatever the text order.
std::vector<unsigned long> row_order(const std::string& index) { return {std::stoul(index)}; }

// The INTERFACES section for snmpd's interfaces.
std::string interface_rows(const test::snmpd& device) {
  const auto types = walked(device, if_type);
  std::map<std::vector<unsigned long>, std::string> interfaces;
  for (const auto& [index, text] : walked(device, if_descr))
    interfaces[row_order(index)] = index + "=" + text + "/" + types.at(index) + ";";
  std::string rows;
  for (const auto& row : interfaces) rows += row.second;
  return rows;
}

// The tables of the mappers' XML and the scalar SYS_NAME.
std::shared_ptr<const mapping> named_tables(const std::string& xml) {
  std::vector<std::shared_ptr<const mapper>> entries = tables(xml)->mappers();
  entries.push_back(std::make_shared<mappers::oid_variable>("SYS_NAME", ".1.3.6.1.2.1.1.5.0"));
  return std::make_shared<const mapping>("named", std::move(entries));
}

class Tables : public test_support::Polling {
 protected:
  Tables()
      : Polling(
            "{{SYS_NAME}}{{#INTERFACES}}{{IF_INDEX}}={{IF_DESCR}}/{{IF_TYPE}};{{/INTERFACES}}"
            "|{{#MIXED}}{{I}}:{{A}}:{{B}};{{/MIXED}}|{{#SLOW}}{{S}};{{/SLOW}}\n"),
        device(quirky_columns(dir, dir.file("pause"))) {}

  test::snmpd device;
};

// The stuck column gives its first row, a warning, and leaves the rest of the heartbeat be.
TEST_F(Tables, RowsAreWhatSnmpwalkSeesWithEitherVersionAndAStuckColumnEndsAlone) {
  const auto mapping = named_tables(
      "<table><name>INTERFACES</name><index>IF_INDEX</index>" + column("IF_DESCR", if_descr) +
      column("IF_TYPE", if_type) + "</table><table><name>MIXED</name><index>I</index>" +
      column("A", if_descr) + column("B", storage_descr) + "</table><table><name>SLOW</name>" +
      column("S", stuck_column) + "</table>");
  const auto descriptions = walked(device, if_descr);
  const auto storage = walked(device, storage_descr);
  ASSERT_FALSE(descriptions.empty());
  ASSERT_FALSE(storage.empty());

  std::map<std::vector<unsigned long>, std::string> mixed;
  for (const auto& cells : {descriptions, storage})
    for (const auto& entry : cells) {
      const auto in = [&](const std::map<std::string, std::string>& c) {
        const auto found = c.find(entry.first);
        return found == c.end() ? std::string() : found->second;
      };
      mixed[row_order(entry.first)] =
          entry.first + ":" + in(descriptions) + ":" + in(storage) + ";";
    }
  std::string expected = device.options().sys_name + interface_rows(device) + "|";
  for (const auto& row : mixed) expected += row.second;
  expected += "|7;";

  for (const int version : {0, 1}) {  // GETNEXT, then GETBULK
    const std::string address = "10.0.0." + std::to_string(version + 1);
    device_settings settings = settings_for(address, device.peer());
    settings.version = version;
    settings.community = "public";
    settings.mapping = mapping;
    snmp_poller& poller = add(settings);
    EXPECT_EQ(cycle(poller), heartbeat(address, expected + "\n")) << log.text();
    EXPECT_TRUE(log.has('W', address + " - table column " + stuck_column +
                                 " not walked to its end: the device did not move forward "
                                 "after " +
                                 stuck_column + ".2 (it answered " + stuck_column + ".2)"))
        << log.text();
    // The next cycles go the same way, and the log says it once.
    EXPECT_EQ(cycle(poller), heartbeat(address, expected + "\n"));
  }
  EXPECT_EQ(log.count('W'), 2) << log.text();
}

TEST_F(Tables, RowsAreCappedSmallRequestsWalkTheSameAndATimeOutEndsWhatItAskedFor) {
  // The cap ends a column after its rows; one value a request walks what 25 rows of ten
  // columns do.
  EXPECT_EQ(walk_alone(io, device, {storage_descr}, 2, {}).size(), 2u);
  const std::set<std::string> columns{if_descr, if_type, storage_descr};
  const auto whole = walk_alone(io, device, columns, mappers::table::max_rows, {});
  EXPECT_EQ(walk_alone(io, device, columns, mappers::table::max_rows, {1, 1}), whole);
  EXPECT_EQ(whole.size(),
            2 * walked(device, if_descr).size() + walked(device, storage_descr).size());

  // Ten interface columns fill the first request; the slow column, asked alone after them,
  // times out and ends alone: the device answered everything else.
  std::string interface_columns;
  for (int c = 1; c <= 10; ++c)
    interface_columns += column(c == 2   ? "IF_DESCR"
                                : c == 3 ? "IF_TYPE"
                                         : "X" + std::to_string(c),
                                ".1.3.6.1.2.1.2.2.1." + std::to_string(c));
  device_settings quirky = settings_for("10.0.0.1", device.peer());
  quirky.version = 1;
  quirky.community = "public";
  quirky.timeout = 1;
  quirky.mapping =
      named_tables("<table><name>INTERFACES</name><index>IF_INDEX</index>" + interface_columns +
                   "</table><table><name>SLOW</name>" + column("S", slow_column) + "</table>");
  test::write_file(dir.file("pause"), "");
  EXPECT_EQ(cycle(add(quirky)),
            heartbeat("10.0.0.1", device.options().sys_name + interface_rows(device) + "||\n"))
      << log.text();
  EXPECT_TRUE(
      log.has('W', "10.0.0.1 - table column " + slow_column + " not walked to its end: Timeout"))
      << log.text();

  // A device that answers nothing of a cycle is down: one error, as for a GET.
  device_settings down = quirky;
  down.address = "10.0.0.2";
  down.mapping = tables("<table><name>SLOW</name>" + column("S", slow_column) + "</table>");
  snmp_poller& poller = add(down);
  test::write_file(dir.file("pause"), "");
  EXPECT_EQ(cycle(poller), "");
  EXPECT_TRUE(log.has('E', "10.0.0.2 - SNMP response error: Timeout")) << log.text();
  EXPECT_EQ(log.count('W') + log.count('E'), 2) << log.text();

  down.timeout = 5;  // the device may still be busy with the last walk
  poller.reconfigure(down);
  EXPECT_EQ(cycle(poller), heartbeat("10.0.0.2", "||42;\n")) << log.text();  // the next tick
}

}  // namespace
}  // namespace tamro::agents
