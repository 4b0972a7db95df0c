#pragma once

#include <boost/property_tree/ptree.hpp>
#include <exception>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/xml_file.hpp"
#include "mapping/item_not_found.hpp"

namespace tamro {

// Keyed items loaded from and saved to an XML file whose root element holds one child per
// item. The derived class names the root and converts between nodes and items; this class
// owns reconciliation on reload, per-item error isolation, lookup and the file layout.
// No lock: loads, saves, lookups and iteration must not overlap.
template <class Key, class Item>
class xml_repository {
 public:
  using item_map = std::map<Key, std::shared_ptr<Item>>;
  using const_iterator = typename item_map::const_iterator;

  xml_repository() = default;
  xml_repository(const xml_repository&) = delete;
  xml_repository& operator=(const xml_repository&) = delete;
  virtual ~xml_repository() = default;

  // Comments are kept and whitespace is not trimmed. File, parse and missing-root errors
  // propagate and leave the items as they were.
  void load(const std::string& path) { load(read_root(path), path); }

  // The file's root element, for a load that must not start before every file has been
  // read; throws as load(path) does.
  boost::property_tree::ptree read_root(const std::string& path) const {
    return read_xml_file(path, 0).get_child(root_name());
  }

  // Reconciles with the items held: every child that yields an item replaces the item under
  // its key (a later duplicate wins), a child that fails is reported and skipped, and every
  // key not delivered again, including one whose new content failed, goes to remove().
  // Comments are the operator's notes, not items. source names where the node came from
  // (a file), for on_item_error's messages.
  void load(const boost::property_tree::ptree& node, const std::string& source = "") {
    item_errors_.clear();
    source_ = source;
    std::set<Key> dropped;
    for (const auto& entry : items_) dropped.insert(entry.first);

    for (const auto& child : node) {
      if (child.first == "<xmlattr>" || child.first == "<xmlcomment>") continue;
      try {
        Key key = item_key(child.first, child.second);
        std::shared_ptr<Item> item = create_item(child.first, child.second);
        items_[key] = std::move(item);
        dropped.erase(key);
      } catch (const std::exception& e) {
        item_errors_.push_back(e.what());
        on_item_error(e);
      }
    }
    for (const Key& key : dropped) remove(key);
  }

  // Replaces the file atomically, so a failed save leaves the previous file whole. Returns
  // the document written, for a caller that compares it with what the file held.
  boost::property_tree::ptree save(const std::string& path) const {
    boost::property_tree::ptree tree;
    tree.add("<xmlcomment>", "Do not add comments to this file: they will be lost");
    boost::property_tree::ptree& root = tree.add_child(root_name(), {});
    for (const auto& entry : items_) write_item(root, *entry.second);
    write_attributes(tree);
    write_xml_file(path, tree);
    return tree;
  }

  std::shared_ptr<Item> get(const Key& key) const {
    const auto found = items_.find(key);
    if (found == items_.end()) throw item_not_found(key_text(key));
    return found->second;
  }

  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }
  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  // Why each child that the last load skipped was skipped.
  const std::vector<std::string>& item_errors() const { return item_errors_; }

 protected:
  virtual void on_item_error(const std::exception& /*e*/) {}
  // Where the node of the load in progress came from; empty when the caller did not say.
  const std::string& source() const { return source_; }
  virtual const char* root_name() const = 0;
  virtual void write_attributes(boost::property_tree::ptree& /*tree*/) const {}
  virtual Key item_key(const std::string& element, const boost::property_tree::ptree& node) = 0;
  virtual std::shared_ptr<Item> create_item(const std::string& element,
                                            const boost::property_tree::ptree& node) = 0;
  virtual void write_item(boost::property_tree::ptree& root, const Item& item) const = 0;
  // Called for each key a reload no longer delivers.
  virtual void remove(const Key& key) { items_.erase(key); }

  item_map& items() { return items_; }
  const item_map& items() const { return items_; }

 private:
  static std::string key_text(const Key& key) {
    std::ostringstream text;
    text << key;
    return text.str();
  }

  item_map items_;
  std::vector<std::string> item_errors_;
  std::string source_;
};

}  // namespace tamro
