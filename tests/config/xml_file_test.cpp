#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include "config/xml_file.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro {
namespace {

TEST(XmlFile, WriteBackKeepsCommentsAndIndentsByTwoBlanks) {
  test::temp_dir dir;
  const std::string path = dir.file("configuration.xml");
  test::write_file(
      path,
      "<?xml version=\"1.0\"?>\n<tamro-configuration>\n  <!-- the operator's note -->\n"
      "  <reporting>\n    <name>edge</name>\n  </reporting>\n</tamro-configuration>\n");
  auto tree = read_xml_file(path, boost::property_tree::xml_parser::trim_whitespace);
  tree.put("tamro-configuration.reporting.heartbeat-interval", 600);
  write_xml_file(path, tree);

  EXPECT_EQ(test::read_file(path),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<tamro-configuration>\n"
            "  <!-- the operator's note -->\n"
            "  <reporting>\n"
            "    <name>edge</name>\n"
            "    <heartbeat-interval>600</heartbeat-interval>\n"
            "  </reporting>\n"
            "</tamro-configuration>\n");
}

TEST(XmlFile, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
  test::temp_dir dir;
  // A folder in place of the file: the rename fails after the text was written.
  const std::string blocked = dir.file("blocked.xml");
  boost::filesystem::create_directory(blocked);
  test::write_file(blocked + "/inside", "x");
  boost::property_tree::ptree tree;
  tree.put("root.value", "1");
  EXPECT_THROW(write_xml_file(blocked, tree), std::runtime_error);
  EXPECT_TRUE(boost::filesystem::is_directory(blocked));
  // Reading it, or a file that is not there, says which file and why.
  const auto read_error = [](const std::string& path) -> std::string {
    try {
      read_xml_file(path);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "read";
  };
  EXPECT_EQ(read_error(blocked), blocked + ": cannot open file: it is a folder");
  EXPECT_EQ(read_error(dir.file("absent.xml")),
            dir.file("absent.xml") + ": cannot open file: No such file or directory");

  try {
    write_xml_file(dir.file("missing/folder.xml"), tree);
    ADD_FAILURE() << "written into a folder that does not exist";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(".tmp: No such file or directory"), std::string::npos)
        << e.what();
  }
  int entries = 0;
  for (auto it = boost::filesystem::directory_iterator(dir.path());
       it != boost::filesystem::directory_iterator(); ++it) {
    ++entries;
  }
  EXPECT_EQ(entries, 1);  // only the blocking folder
}

TEST(XmlFile, LeftoverTemporariesOfAFileAreRemovedAndNothingElse) {
  test::temp_dir dir;
  const std::string path = dir.file("devices.xml");
  for (const char* name : {"devices.xml.0a1b2c.tmp", "devices.xml.ffffff.tmp", "devices.xml",
                           "devices.xml.tmp", "devices.xml.backup.tmp", "mappings.xml.0a1b2c.tmp"})
    test::write_file(dir.file(name), "x");
  remove_leftover_temporaries(path);
  EXPECT_FALSE(boost::filesystem::exists(dir.file("devices.xml.0a1b2c.tmp")));
  EXPECT_FALSE(boost::filesystem::exists(dir.file("devices.xml.ffffff.tmp")));
  for (const char* kept :
       {"devices.xml", "devices.xml.tmp", "devices.xml.backup.tmp", "mappings.xml.0a1b2c.tmp"})
    EXPECT_TRUE(boost::filesystem::exists(dir.file(kept))) << kept;
}

TEST(XmlFile, NestingDeeperThanTheLimitIsRefusedWithItsLine) {
  test::temp_dir dir;
  const auto nested = [](int levels, const std::string& inside) {
    std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE root [<!ELEMENT root ANY>]>\n";
    for (int i = 0; i < levels; ++i) text += "<e a=\"x>y\">";
    text += inside;
    for (int i = 0; i < levels; ++i) text += "</e>";
    return text;
  };
  // Comments, character data, declarations and empty elements add no level.
  const std::string at_limit =
      nested(max_xml_depth, "<!-- <c><c> --><![CDATA[<d><d>]]><empty/><empty />text");
  test::write_file(dir.file("limit.xml"), at_limit);
  EXPECT_NO_THROW(read_xml_file(dir.file("limit.xml")));

  test::write_file(dir.file("deep.xml"), nested(100000, "\n"));
  try {
    read_xml_file(dir.file("deep.xml"));
    ADD_FAILURE() << "a file nested 100,000 levels deep was read";
  } catch (const boost::property_tree::xml_parser_error& e) {
    EXPECT_EQ(std::string(e.what()),
              dir.file("deep.xml") + "(3): elements nested deeper than 64 levels");
  }
  // The reader's own errors name the file too.
  test::write_file(dir.file("broken.xml"), "<a>\n<b></a>");
  try {
    read_xml_file(dir.file("broken.xml"));
    ADD_FAILURE() << "a malformed file was read";
  } catch (const boost::property_tree::xml_parser_error& e) {
    EXPECT_EQ(e.filename(), dir.file("broken.xml"));
    EXPECT_EQ(e.line(), 2u);
  }
}

}  // namespace
}  // namespace tamro
