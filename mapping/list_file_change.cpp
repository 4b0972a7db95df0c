#include "mapping/list_file_change.hpp"

#include <exception>

#include "config/xml_file.hpp"

namespace tamro {
namespace {

using boost::property_tree::ptree;

bool is_note(const std::string& name) { return name == "<xmlattr>" || name == "<xmlcomment>"; }

// Key -> item; a later item of the same key wins, as in a load.
std::map<std::string, const ptree*> items_by_key(const ptree& root, const std::string& key) {
  std::map<std::string, const ptree*> items;
  for (const auto& [name, item] : root)
    if (!is_note(name)) items[item.get(key, std::string())] = &item;
  return items;
}

using changed_values =
    std::map<std::string,
             std::pair<list_change::changed_item::text, list_change::changed_item::text>>;

// The first element of each name.
std::map<std::string, const ptree*> elements(const ptree& item) {
  std::map<std::string, const ptree*> found;
  for (const auto& [name, element] : item)
    if (!is_note(name)) found.emplace(name, &element);
  return found;
}

list_change::changed_item::text element_text(const ptree* element) {
  if (!element) return std::nullopt;
  return element->empty() ? element->data() : "(elements)";
}

changed_values differences(const ptree& before, const ptree& after) {
  const auto old_elements = elements(before);
  const auto new_elements = elements(after);
  auto names = old_elements;
  names.insert(new_elements.begin(), new_elements.end());
  changed_values values;
  for (const auto& entry : names) {
    const auto old = old_elements.find(entry.first);
    const auto now = new_elements.find(entry.first);
    const ptree* old_element = old == old_elements.end() ? nullptr : old->second;
    const ptree* new_element = now == new_elements.end() ? nullptr : now->second;
    if (old_element && new_element && *old_element == *new_element) continue;
    values[entry.first] = {element_text(old_element), element_text(new_element)};
  }
  return values;
}

ptree list_root(const std::string& text, const std::string& path, const std::string& root) {
  if (text.empty()) return {};
  try {
    ptree document = read_xml_text(text, 0, path);
    ptree list;
    if (const auto found = document.get_child_optional(root)) list.swap(*found);
    return list;
  } catch (const std::exception&) {
    return {};
  }
}

std::string file_text(const std::string& path) {
  try {
    return read_text_file(path);
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

list_change compare_lists(const ptree& before, const ptree& after, const std::string& key) {
  const auto old_items = items_by_key(before, key);
  const auto new_items = items_by_key(after, key);
  list_change change;
  change.items = new_items.size();
  for (const auto& [item_key, item] : new_items) {
    const auto old = old_items.find(item_key);
    if (old == old_items.end()) {
      ++change.added;
    } else if (!(*old->second == *item)) {
      change.changed.push_back({item_key, differences(*old->second, *item)});
    }
  }
  for (const auto& entry : old_items) change.removed += new_items.count(entry.first) == 0;
  return change;
}

list_file_snapshot::list_file_snapshot(std::string path, std::string root, std::string key)
    : path_(std::move(path)),
      root_(std::move(root)),
      key_(std::move(key)),
      text_(file_text(path_)) {}

void list_file_snapshot::refresh() {
  std::string now = file_text(path_);
  if (now == text_) return;
  text_ = std::move(now);
  items_.reset();
}

std::optional<list_change> list_file_snapshot::changes() {
  std::string now = file_text(path_);
  if (now == text_) return std::nullopt;
  ptree after = list_root(now, path_, root_);
  return advance(std::move(now), after);
}

std::optional<list_change> list_file_snapshot::changes(ptree written) {
  std::string now = file_text(path_);
  if (now == text_) return std::nullopt;
  ptree after;
  if (const auto found = written.get_child_optional(root_)) after.swap(*found);
  return advance(std::move(now), after);
}

list_change list_file_snapshot::advance(std::string now, ptree& after) {
  list_change change = compare_lists(items(), after, key_);
  text_ = std::move(now);
  items_.emplace().swap(after);
  return change;
}

const ptree& list_file_snapshot::items() {
  if (!items_) items_ = list_root(text_, path_, root_);
  return *items_;
}

}  // namespace tamro
