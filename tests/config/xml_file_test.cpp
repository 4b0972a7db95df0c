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
  test::write_file(path,
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

  EXPECT_THROW(write_xml_file(dir.file("missing/folder.xml"), tree), std::runtime_error);
  int entries = 0;
  for (auto it = boost::filesystem::directory_iterator(dir.path());
       it != boost::filesystem::directory_iterator(); ++it) {
    ++entries;
  }
  EXPECT_EQ(entries, 1);  // only the blocking folder
}

}  // namespace
}  // namespace tamro
