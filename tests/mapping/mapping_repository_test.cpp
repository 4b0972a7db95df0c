#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <set>
#include <string>

#include "mapping/mappers/const_variable.hpp"
#include "mapping/mappers/oid_variable.hpp"
#include "mapping/mappers/table.hpp"
#include "mapping/mapping_repository.hpp"
#include "tests/support/agent_support.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro {
namespace {

std::string variable(const std::string& name, const std::string& rest) {
  return "<variable><name>" + name + "</name>" + rest + "</variable>";
}

std::string mapping_xml(const std::string& name, const std::string& mappers) {
  return "<mapping><name>" + name + "</name><mappers>" + mappers + "</mappers></mapping>";
}

struct mappings_file {
  test::temp_dir dir;
  std::string path = dir.file("mappings.xml");

  explicit mappings_file(const std::string& items) {
    test::write_file(path,
                     "<?xml version=\"1.0\"?>\n<mappings version=\"7\">" + items + "</mappings>\n");
  }
};

template <class Kind>
const Kind& mapper_at(const mapping& m, std::size_t index) {
  const auto* kind = dynamic_cast<const Kind*>(m.mappers().at(index).get());
  if (!kind) throw std::runtime_error("mapper of another kind");
  return *kind;
}

TEST(MappingRepository, BuildsOidAndConstantVariablesAndSkipsOthers) {
  mappings_file file(
      mapping_xml(
          "router",
          variable("BOTH", "<oid>1.3.6.1.2.1.1.5.0</oid><value>ignored</value>") +
              variable(
                  "CONST",
                  "<value> lab </value><transformation>timeticks-to-seconds</transformation>") +
              variable("NEITHER", "<transformation>format-mac-address</transformation>") +
              "<counter><name>OTHER</name><oid>.1.2</oid></counter>" +
              variable("MAC",
                       "<oid>.1.3.6.1.2.1.2.2.1.6.2</oid>"
                       "<transformation>format-mac-address</transformation>")) +
      mapping_xml("empty", ""));
  mapping_repository repo;
  repo.load(file.path);

  const auto router = repo.get("router");
  ASSERT_EQ(router->mappers().size(), 3u);
  EXPECT_EQ(mapper_at<mappers::oid_variable>(*router, 0).oid(), ".1.3.6.1.2.1.1.5.0");
  EXPECT_EQ(mapper_at<mappers::const_variable>(*router, 1).value(), " lab ");
  EXPECT_TRUE(mapper_at<mappers::const_variable>(*router, 1).transform());
  EXPECT_STREQ(mapper_at<mappers::oid_variable>(*router, 2).transform()->name(),
               "format-mac-address");
  EXPECT_TRUE(repo.get("empty")->mappers().empty());
}

TEST(MappingRepository, BadMapperOrMappingDropsOnlyThatMapping) {
  const std::string good = variable("A", "<oid>.1.1</oid>");
  mappings_file file(
      "<!-- a note -->" +
      mapping_xml("no-name-in-other", good + "<counter><oid>.1.2</oid></counter>") +
      mapping_xml("comment-in-mappers", good + "<!-- keep -->") +
      mapping_xml("unknown-transformation",
                  variable("B", "<oid>.1.2</oid><transformation>upper</transformation>")) +
      mapping_xml("bad-transformation-on-other",
                  "<counter><name>C</name><transformation>x</transformation></counter>") +
      "<mapping><name>no-mappers</name></mapping>" + "<mapping><mappers/></mapping>" +
      mapping_xml("fine", good));
  mapping_repository repo;
  repo.load(file.path);
  std::set<std::string> names;
  for (const auto& item : repo) names.insert(item.first);
  // Comments, under the root or among the mappers, are notes and harm nothing.
  EXPECT_EQ(names, (std::set<std::string>{"comment-in-mappers", "fine"}));
}

TEST(MappingRepository, TablesSaveAndReloadAndAMalformedOneFailsOnlyItsMapping) {
  const auto table = [](const std::string& inside) { return "<table>" + inside + "</table>"; };
  const std::string column =
      "<column><name>IF_MAC</name><oid>1.3.6.1.2.1.2.2.1.6</oid>"
      "<transformation>format-mac-address</transformation></column>";
  mappings_file file(
      mapping_xml("interfaces",
                  variable("A", "<oid>.1.1</oid>") +
                      table("<name>INTERFACES</name><index>IF_INDEX</index>" + column)) +
      mapping_xml("no-columns", table("<name>T</name>")) + mapping_xml("no-name", table(column)) +
      mapping_xml("text-oid", table("<name>T</name><column><name>C</name>"
                                    "<oid>IF-MIB::ifDescr</oid></column>")));
  mapping_repository repo;
  test::captured_log log;
  repo.load(file.path);
  ASSERT_EQ(repo.size(), 1u);
  // Each reason names the file and the mapping.
  for (const char* reason :
       {"mapping no-columns: table T has no column", "mapping no-name: table: name is missing",
        "mapping text-oid: table T column C: oid \".IF-MIB::ifDescr\" is not a numeric OID"})
    EXPECT_TRUE(log.has('E', "Error while parsing mapping node: " + file.path + ": " + reason))
        << reason << log.text();

  std::set<std::string> columns;
  repo.get("interfaces")->collect_columns(columns);
  EXPECT_EQ(columns, std::set<std::string>{".1.3.6.1.2.1.2.2.1.6"});
  repo.save(file.path);
  mapping_repository again;
  again.load(file.path);
  const auto& walked = mapper_at<mappers::table>(*again.get("interfaces"), 1);
  EXPECT_EQ(walked.name(), "INTERFACES");
  EXPECT_EQ(walked.index_variable(), "IF_INDEX");
  ASSERT_EQ(walked.columns().size(), 1u);
  EXPECT_EQ(walked.columns()[0].oid, ".1.3.6.1.2.1.2.2.1.6");
  EXPECT_STREQ(walked.columns()[0].transform->name(), "format-mac-address");
}

TEST(MappingRepository, SaveAndReloadKeepsOidsConstantsAndOidTransformations) {
  mappings_file file(
      mapping_xml("m", variable("UP",
                                "<oid>1.3.6.1.2.1.1.3.0</oid>"
                                "<transformation>timeticks-to-seconds</transformation>") +
                           variable("K",
                                    "<value>12345</value>"
                                    "<transformation>timeticks-to-seconds</transformation>")));
  mapping_repository repo;
  repo.load(file.path);
  repo.save(file.path);

  const std::string text = test::read_file(file.path);
  EXPECT_TRUE(boost::regex_search(text, boost::regex("<mappings version=\"1\\.0\">"))) << text;
  EXPECT_NE(text.find("<oid>.1.3.6.1.2.1.1.3.0</oid>"), std::string::npos);
  EXPECT_EQ(text.find("<value>12345</value>\n        <transformation>"), std::string::npos);

  mapping_repository again;
  again.load(file.path);
  const auto m = again.get("m");
  ASSERT_EQ(m->mappers().size(), 2u);
  const auto& up = mapper_at<mappers::oid_variable>(*m, 0);
  EXPECT_EQ(up.oid(), ".1.3.6.1.2.1.1.3.0");
  EXPECT_STREQ(up.transform()->name(), "timeticks-to-seconds");
  const auto& k = mapper_at<mappers::const_variable>(*m, 1);
  EXPECT_EQ(k.value(), "12345");
  EXPECT_FALSE(k.transform());
}

TEST(MappingRepository, SampleFileLoadsAsWrittenWithNumericOids) {
  const std::string sample = std::string(TAMRO_SOURCE_DIR) + "/etc/mappings.xml";
  mapping_repository repo;
  repo.load(sample);
  std::set<std::string> names;
  for (const auto& item : repo) names.insert(item.first);
  EXPECT_EQ(names, (std::set<std::string>{"host-storage", "if-table", "mib2-interface-counters",
                                          "mib2-interfaces", "mib2-system", "net-snmp-host"}));

  for (const auto& item : repo) {
    EXPECT_FALSE(item.second->mappers().empty()) << item.first;
    std::set<std::string> oids;
    item.second->collect_oids(oids);
    for (const auto& oid : oids)
      EXPECT_TRUE(boost::regex_match(oid, boost::regex("(\\.[0-9]+)+"))) << oid;
  }

  // The sample is kept in the form the agent writes, so a save changes nothing.
  test::temp_dir dir;
  repo.save(dir.file("mappings.xml"));
  EXPECT_EQ(test::read_file(dir.file("mappings.xml")), test::read_file(sample));
}

}  // namespace
}  // namespace tamro
