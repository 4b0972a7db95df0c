// A device that finds the answer too big for one message gets the request split, and a
// walk smaller requests; a column the device cannot walk ends alone.
#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "agents/snmp_poller.hpp"
#include "mapping/mappers/oid_variable.hpp"
#include "mapping/mappers/table.hpp"
#include "tests/agents/polling_fixture.hpp"
#include "tests/support/child_process.hpp"

namespace tamro::agents {
namespace {

// Variables V1... for .1.3.6.1.4.1.99999.70.1.0, .2.0, ...
std::shared_ptr<const mapping> numbered(int count) {
  std::vector<std::shared_ptr<const mapper>> mappers;
  for (int i = 1; i <= count; ++i)
    mappers.push_back(std::make_shared<mappers::oid_variable>(
        "V" + std::to_string(i), ".1.3.6.1.4.1.99999.70." + std::to_string(i) + ".0"));
  return std::make_shared<const mapping>("numbered", std::move(mappers));
}

// V1 (.1.3.6.1.4.1.99999.70.1.0) and the table T of the columns A, B, C... at these OIDs.
std::shared_ptr<const mapping> walked(const std::vector<std::string>& columns) {
  boost::property_tree::ptree table;
  table.put("name", "T");
  table.put("index", "I");
  for (std::size_t c = 0; c < columns.size(); ++c) {
    boost::property_tree::ptree& column = table.add("column", "");
    column.put("name", std::string(1, static_cast<char>('A' + c)));
    column.put("oid", columns[c]);
  }
  return std::make_shared<const mapping>(
      "walked", std::vector<std::shared_ptr<const mapper>>{
                    std::make_shared<mappers::oid_variable>("V1", ".1.3.6.1.4.1.99999.70.1.0"),
                    std::make_shared<mappers::table>(table)});
}

class TooBig : public test_support::Polling {
 protected:
  TooBig() : Polling("{{V1}}|{{V3}}|{{V5}}{{#T}}|{{I}}:{{A}}:{{B}}:{{C}}{{/T}}\n") {}

  // tools/too_big_device.py answering at most `most` values an answer; its port.
  std::string device(int most, const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv{TAMRO_PYTHON3,
                                  std::string(TAMRO_SOURCE_DIR) + "/tools/too_big_device.py",
                                  "--most", std::to_string(most)};
    argv.insert(argv.end(), options.begin(), options.end());
    devices.push_back(std::make_unique<test::child_process>(
        argv, dir.file("device-" + std::to_string(devices.size()) + ".out")));
    test::child_process& started = *devices.back();
    const std::string marker = "listening on ";
    EXPECT_TRUE(test::wait_until([&] { return started.output().find('\n') != std::string::npos; },
                                 std::chrono::seconds(10)));
    return "127.0.0.1:" +
           started.output().substr(marker.size(), started.output().find('\n') - marker.size());
  }

  // How many answers the nth device found too big so far.
  std::size_t too_big_answers(std::size_t n) const {
    const std::string output = devices.at(n)->output();
    std::size_t count = 0;
    for (auto at = output.find("tooBig\n"); at != std::string::npos;
         at = output.find("tooBig\n", at + 1))
      ++count;
    return count;
  }

  std::vector<std::unique_ptr<test::child_process>> devices;
};

TEST_F(TooBig, TheRequestIsHalvedUntilItFitsAndTheSplittingIsBounded) {
  device_settings fits = settings_for("10.0.0.1", device(2));
  fits.version = 1;
  fits.mapping = numbered(5);
  add(fits);
  device_settings never = settings_for("10.0.0.2", device(1));
  never.version = 1;
  never.mapping = numbered(200);  // 399 requests to get there: more than a cycle may take
  add(never);

  for (const auto& poller : pollers) poller->start_heartbeat();
  run_until_idle();
  const std::string value = "value of .1.3.6.1.4.1.99999.70.";
  EXPECT_EQ(printed.str(), heartbeat("10.0.0.1", value + "1.0|" + value + "3.0|" + value + "5.0\n"))
      << log.text();
  EXPECT_TRUE(log.has('E', "10.0.0.2 - SNMP error status tooBig (index 0)")) << log.text();
  EXPECT_TRUE(log.has_prefix('E', "10.0.0.2 - response mapping error: ")) << log.text();
}

const std::string table_oid = ".1.3.6.1.4.1.99999.71.";
const std::string scalar = "value of .1.3.6.1.4.1.99999.70.1.0||";

std::string cell(const std::string& column, int row) {
  return "value of " + table_oid + column + "." + std::to_string(row);
}

TEST_F(TooBig, AWalkAsksForFewerRowsThenFewerColumnsAndKeepsToThemUntilAReload) {
  const std::vector<std::string> columns{table_oid + "1", table_oid + "2", table_oid + "3"};
  std::vector<std::string> options;
  for (const std::string& column : columns)
    options.insert(options.end(), {"--column", column + ":3"});
  std::string rows = scalar;
  for (int row = 1; row <= 3; ++row)
    rows += "|" + std::to_string(row) + ":" + cell("1", row) + ":" + cell("2", row) + ":" +
            cell("3", row);

  // At most two values an answer: GETBULK's 25, 12, 6, 3 and 1 rows of three columns are
  // too big, one row of one column fits; GETNEXT's three columns are too big, one fits.
  struct shrinking {
    int version;
    std::size_t too_big;
  };
  const shrinking cases[] = {{1, 5}, {0, 1}};
  for (std::size_t n = 0; n < std::size(cases); ++n) {
    SCOPED_TRACE("version code " + std::to_string(cases[n].version));
    const std::string address = "10.0.0." + std::to_string(n + 1);
    device_settings settings = settings_for(address, device(2, options));
    settings.version = cases[n].version;
    settings.mapping = walked(columns);
    snmp_poller& poller = add(settings);
    const auto cycle_asks_too_much = [&](std::size_t times) {
      const std::size_t before = too_big_answers(n);
      EXPECT_EQ(cycle(poller), heartbeat(address, rows + "\n")) << log.text();
      EXPECT_EQ(too_big_answers(n) - before, times);
    };

    cycle_asks_too_much(cases[n].too_big);
    cycle_asks_too_much(0);        // what worked is kept
    poller.reconfigure(settings);  // a pushed list that changes nothing
    cycle_asks_too_much(0);
    poller.forget_walk_shape();  // a reload
    cycle_asks_too_much(cases[n].too_big);
    settings.retries = 1;  // other settings: perhaps the device is another one now
    poller.reconfigure(settings);
    cycle_asks_too_much(cases[n].too_big);
  }
  EXPECT_EQ(log.count('W') + log.count('E'), 0) << log.text();
}

TEST_F(TooBig, AColumnTheDeviceCannotWalkEndsAloneAndOnlyAllFailingFailsTheCycle) {
  // Column 1 walks; 2 repeats its first row; the values of 3 never fit.
  std::vector<std::string> options{"--stuck", table_oid + "2", "--huge", table_oid + "3"};
  for (const char* column : {"1", "2", "3"})
    options.insert(options.end(), {"--column", table_oid + column + ":3"});
  std::string too_long = table_oid + "4";  // more arcs than the SNMP library takes
  for (int arc = 0; arc < 130; ++arc) too_long += ".1";
  struct walk_case {
    std::vector<std::string> columns;
    std::string printed;
    std::vector<std::pair<std::string, std::string>> warnings;  // column, reason
  };
  const std::string stuck = "the device did not move forward after " + table_oid + "2.1 (it " +
                            "answered " + table_oid + "2.1)";
  const std::string huge = "the answer is too big even for one value";
  const walk_case cases[] = {
      {{table_oid + "1", table_oid + "2", table_oid + "3"},
       scalar + "|1:" + cell("1", 1) + ":" + cell("2", 1) + ":|2:" + cell("1", 2) +
           "::|3:" + cell("1", 3) + "::\n",
       {{table_oid + "2", stuck}, {table_oid + "3", huge}}},
      {{table_oid + "2", table_oid + "3", too_long},
       "",
       {{table_oid + "2", stuck},
        {table_oid + "3", huge},
        {too_long, "not an OID the SNMP library can use"}}},
  };
  for (std::size_t n = 0; n < std::size(cases); ++n) {
    const walk_case& c = cases[n];
    const std::string address = "10.0.0." + std::to_string(n + 1);
    SCOPED_TRACE(address);
    device_settings settings = settings_for(address, device(10, options));
    settings.version = 1;
    settings.mapping = walked(c.columns);
    snmp_poller& poller = add(settings);
    EXPECT_EQ(cycle(poller), c.printed.empty() ? "" : heartbeat(address, c.printed)) << log.text();
    for (const auto& [column, reason] : c.warnings)
      EXPECT_TRUE(
          log.has('W', address + " - table column " + column + " not walked to its end: " + reason))
          << log.text();
    EXPECT_EQ(poller.answered(), !c.printed.empty());
    EXPECT_EQ(log.has('E', address + " - table walk error: no column could be walked"),
              c.printed.empty());
  }
  EXPECT_EQ(log.count('W'), 5) << log.text();
  EXPECT_EQ(log.count('E'), 1) << log.text();
}

}  // namespace
}  // namespace tamro::agents
