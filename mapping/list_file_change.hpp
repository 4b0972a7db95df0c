#pragma once

#include <boost/property_tree/ptree.hpp>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tamro {

// What a rewrite changed in a list file (devices.xml, mappings.xml): its items are the
// root's child elements, keyed by the text of one of their elements.
struct list_change {
  struct changed_item {
    using text = std::optional<std::string>;  // nothing: the element is absent
    std::string key;
    // Element -> (old text, new text) for each element that differs, the first of each name;
    // an element with elements inside it shows as "(elements)".
    std::map<std::string, std::pair<text, text>> values;
  };

  std::size_t items = 0;  // in the new list
  std::size_t added = 0;
  std::size_t removed = 0;
  std::vector<changed_item> changed;
};

list_change compare_lists(const boost::property_tree::ptree& before,
                          const boost::property_tree::ptree& after, const std::string& key);

// A list file as the agent last looked at it, to tell after a write what the write changed.
class list_file_snapshot {
 public:
  // A file that is missing or does not read counts as an empty list.
  list_file_snapshot(std::string path, std::string root, std::string key);

  const std::string& path() const { return path_; }
  // Looks at the file again: what an operator changed since the last look is taken as it is
  // now, not reported as a change of the agent's.
  void refresh();
  // What the file holds now that it did not hold at the last look, nothing when it was not
  // rewritten; the snapshot then holds the file as it is now. Each text is parsed once, so a
  // file written at every tick costs one parse per write.
  std::optional<list_change> changes();
  // The same, for a writer that gives the document it wrote, which is then not parsed again.
  std::optional<list_change> changes(boost::property_tree::ptree written);

 private:
  const boost::property_tree::ptree& items();
  // Compares the list held with after, then holds now and after (taking after's content).
  list_change advance(std::string now, boost::property_tree::ptree& after);

  std::string path_;
  std::string root_;
  std::string key_;
  std::string text_;
  std::optional<boost::property_tree::ptree> items_;  // text_ parsed, once needed
};

}  // namespace tamro
