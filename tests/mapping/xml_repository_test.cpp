#include <gtest/gtest.h>

#include <sys/resource.h>
#include <boost/filesystem.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <csignal>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "mapping/xml_repository.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro {
namespace {

using boost::property_tree::ptree;

struct entry {
  std::string key, value;
};

// Items are <anything><key>k</key><value>v</value></anything>; a value "bad" fails.
class entry_repository : public xml_repository<std::string, entry> {
 public:
  std::vector<std::string> errors;
  std::vector<std::string> removed;
  std::vector<std::string> offered;

  std::string value(const std::string& key) const { return get(key)->value; }
  std::vector<std::string> keys() const {
    std::vector<std::string> out;
    for (const auto& item : *this) out.push_back(item.first);
    return out;
  }

 protected:
  void on_item_error(const std::exception& e) override { errors.push_back(e.what()); }
  const char* root_name() const override { return "entries"; }
  void write_attributes(ptree& tree) const override { tree.put("entries.<xmlattr>.n", size()); }
  std::string item_key(const std::string& element, const ptree& node) override {
    offered.push_back(element);
    return node.get<std::string>("key");
  }
  std::shared_ptr<entry> create_item(const std::string&, const ptree& node) override {
    const auto value = node.get<std::string>("value");
    if (value == "bad") throw std::runtime_error("bad value");
    return std::make_shared<entry>(entry{node.get<std::string>("key"), value});
  }
  void write_item(ptree& root, const entry& item) const override {
    ptree& node = root.add("entry", "");
    node.put("key", item.key);
    node.put("value", item.value);
  }
  void remove(const std::string& key) override {
    removed.push_back(key);
    xml_repository::remove(key);
  }
};

ptree root_of(const std::string& xml) {
  std::istringstream in(xml);
  ptree tree;
  boost::property_tree::read_xml(in, tree);
  return tree.get_child("entries");
}

std::string item(const std::string& key, const std::string& value) {
  return "<entry><key>" + key + "</key><value>" + value + "</value></entry>";
}

TEST(XmlRepository, LoadsInKeyOrderAndLaterDuplicateWins) {
  entry_repository repo;
  repo.load(root_of("<entries>" + item("b", "1") + item("a", "2") + item("b", "3") + "</entries>"));
  EXPECT_EQ(repo.keys(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(repo.value("b"), "3");
  EXPECT_TRUE(repo.errors.empty());
  try {
    repo.get("router-1");
    FAIL();
  } catch (const item_not_found& e) {
    EXPECT_STREQ(e.what(), "item router-1 not found");
  }
}

TEST(XmlRepository, FailingItemIsReportedAndOthersStillLoad) {
  entry_repository repo;
  repo.load(root_of("<entries x=\"1\">" + item("a", "1") + item("b", "bad") +
                    "<entry><value>no key</value></entry>" + item("c", "3") + "</entries>"));
  EXPECT_EQ(repo.keys(), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(repo.errors.size(), 2u);
  EXPECT_EQ(repo.errors[0], "bad value");
  for (const auto& element : repo.offered) EXPECT_NE(element, "<xmlattr>");
}

TEST(XmlRepository, ReloadReplacesItemsAndRemovesKeysNotDeliveredOrNowFailing) {
  entry_repository repo;
  repo.load(root_of("<entries>" + item("a", "1") + item("b", "2") + item("c", "3") + "</entries>"));
  const auto old_a = repo.get("a");

  repo.load(root_of("<entries>" + item("a", "1") + item("c", "bad") + "</entries>"));
  EXPECT_EQ(repo.keys(), (std::vector<std::string>{"a"}));
  EXPECT_EQ(repo.removed, (std::vector<std::string>{"b", "c"}));
  EXPECT_NE(repo.get("a"), old_a);  // a new object, not the old one updated
  EXPECT_EQ(old_a->value, "1");     // earlier holders keep theirs

  repo.removed.clear();
  repo.load(root_of("<entries/>"));
  EXPECT_TRUE(repo.empty());
  EXPECT_EQ(repo.removed, (std::vector<std::string>{"a"}));
}

TEST(XmlRepository, FileErrorsPropagateAndKeepItems) {
  test::temp_dir dir;
  entry_repository repo;
  repo.load(root_of("<entries>" + item("a", "1") + "</entries>"));
  EXPECT_THROW(repo.load(dir.file("missing.xml")), std::runtime_error);
  test::write_file(dir.file("broken.xml"), "<entries><entry>");
  EXPECT_THROW(repo.load(dir.file("broken.xml")), std::runtime_error);
  test::write_file(dir.file("other.xml"), "<others/>");
  EXPECT_THROW(repo.load(dir.file("other.xml")), std::runtime_error);
  EXPECT_EQ(repo.keys(), (std::vector<std::string>{"a"}));
  EXPECT_TRUE(repo.removed.empty());
}

TEST(XmlRepository, SaveWritesHeaderCommentAttributesAndReloadsSameKeys) {
  test::temp_dir dir;
  entry_repository repo;
  repo.load(root_of("<entries>" + item("b", "2") + item("a", "1") + "</entries>"));
  repo.save(dir.file("e.xml"));

  const std::string text = test::read_file(dir.file("e.xml"));
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                       "<!--Do not add comments to this file: they will be lost-->\n"
                       "<entries n=\"2\">\n  <entry>\n    <key>a</key>\n",
                       0),
            0u)
      << text;

  entry_repository again;
  again.load(dir.file("e.xml"));
  EXPECT_EQ(again.keys(), repo.keys());
  EXPECT_EQ(again.value("b"), "2");
  EXPECT_TRUE(again.errors.empty());
}

std::vector<std::string> folder_entries(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& e : boost::filesystem::directory_iterator(path))
    names.push_back(e.path().filename().string());
  return names;
}

TEST(XmlRepository, SaveReplacesAtomicallyAndLeavesNoTemporaryFile) {
  test::temp_dir dir;
  test::write_file(dir.file("e.xml"), "old");
  entry_repository repo;
  repo.load(root_of("<entries>" + item("a", "1") + "</entries>"));
  repo.save(dir.file("e.xml"));
  EXPECT_EQ(folder_entries(dir.path()), (std::vector<std::string>{"e.xml"}));
  EXPECT_NE(test::read_file(dir.file("e.xml")), "old");

  // The target's folder does not exist: nothing is created.
  EXPECT_THROW(repo.save(dir.file("missing/e.xml")), std::runtime_error);
  EXPECT_FALSE(boost::filesystem::exists(dir.file("missing")));
}

// Tests run as root, so permissions cannot make the write fail; a file size limit does,
// as a full disk would, after the temporary file was created.
TEST(XmlRepository, FailedWriteKeepsOldFileWhole) {
  test::temp_dir dir;
  const std::string old_text(40, 'x');
  test::write_file(dir.file("e.xml"), old_text);
  entry_repository repo;
  std::string xml = "<entries>";
  for (int i = 0; i < 200; ++i) xml += item("key" + std::to_string(i), std::string(50, 'v'));
  repo.load(root_of(xml + "</entries>"));

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool threw = false;
  try {
    repo.save(dir.file("e.xml"));
  } catch (const std::runtime_error&) {
    threw = true;
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous_handler);

  EXPECT_TRUE(threw);
  EXPECT_EQ(test::read_file(dir.file("e.xml")), old_text);
  EXPECT_EQ(folder_entries(dir.path()), (std::vector<std::string>{"e.xml"}));
}

}  // namespace
}  // namespace tamro
