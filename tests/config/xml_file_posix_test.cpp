#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <boost/property_tree/ptree.hpp>

#include "config/xml_file.hpp"
#include "tests/support/temp_dir.hpp"

// What a replaced file keeps on POSIX systems: its mode, its owner and, when the text is the
// same, its inode.
namespace tamro {
namespace {

TEST(XmlFile, ReplacementKeepsThePermissionsAndOwnerAndSameTextIsNotWritten) {
  namespace fs = boost::filesystem;
  test::temp_dir dir;
  const auto inode = [](const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_ino;
  };
  boost::property_tree::ptree tree;
  tree.put("devices.device.community", "secret");
  const std::string created = dir.file("new.xml");
  write_xml_file(created, tree);
  EXPECT_EQ(fs::status(created).permissions(), fs::owner_read | fs::owner_write);

  const std::string kept = dir.file("devices.xml");
  test::write_file(kept, "<devices/>\n");
  fs::permissions(kept, fs::owner_read | fs::owner_write | fs::group_read);
  const bool root = ::geteuid() == 0;  // only root may hand a file to another owner
  if (root) {
    ASSERT_EQ(::chown(kept.c_str(), 4321, 4322), 0);
  }
  write_xml_file(kept, tree);
  EXPECT_EQ(fs::status(kept).permissions(), fs::owner_read | fs::owner_write | fs::group_read);
  struct stat owner {};
  ::stat(kept.c_str(), &owner);
  EXPECT_EQ(owner.st_uid, root ? 4321u : ::geteuid());
  EXPECT_EQ(owner.st_gid, root ? 4322u : ::getegid());
  const auto written = inode(kept);
  write_xml_file(kept, tree);
  EXPECT_EQ(inode(kept), written) << "the same text again is not written";
  tree.put("devices.device.community", "other");
  write_xml_file(kept, tree);
  EXPECT_NE(inode(kept), written);
  EXPECT_NE(test::read_file(kept).find("other"), std::string::npos);
}

}  // namespace
}  // namespace tamro
