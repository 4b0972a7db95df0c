#include "mapping/mappers/table.hpp"

#include <ctemplate/template.h>

#include <boost/property_tree/ptree.hpp>
#include <cstdint>
#include <map>
#include <stdexcept>

#include "config/value_syntax.hpp"

namespace tamro::mappers {
namespace {

using boost::property_tree::ptree;

std::string required(const ptree& node, const char* element, const std::string& where) {
  const std::string text = node.get(element, std::string());
  if (text.empty()) throw std::runtime_error(where + ": " + element + " is missing");
  return text;
}

// Digit groups joined by dots, with or without the leading dot; returned with it.
std::string numeric_oid(std::string text, const std::string& where) {
  if (!is_numeric_oid(text))
    throw std::runtime_error(where + ": oid \"" +
                             (text.empty() || text.front() == '.' ? text : "." + text) +
                             "\" is not a numeric OID");
  if (text.front() != '.') text.insert(text.begin(), '.');
  return text;
}

// An index as its numbers, so that rows sort as OIDs do ("2" before "10").
std::vector<std::uint64_t> index_parts(const std::string& index) {
  std::vector<std::uint64_t> parts(1, 0);
  for (const char c : index) {
    if (c == '.') {
      parts.push_back(0);
    } else {
      parts.back() = parts.back() * 10 + static_cast<std::uint64_t>(c - '0');
    }
  }
  return parts;
}

}  // namespace

table::table(const ptree& node) : mapper(required(node, "name", "table")) {
  const std::string where = "table " + name();
  index_variable_ = node.get("index", std::string());
  for (const auto& child : node) {
    if (child.first != "column") continue;
    column entry;
    entry.variable = required(child.second, "name", where + " column");
    const std::string column_where = where + " column " + entry.variable;
    entry.oid = numeric_oid(required(child.second, "oid", column_where), column_where);
    if (const auto keyword = child.second.get_optional<std::string>("transformation")) {
      try {
        entry.transform = make_transformation(*keyword);
      } catch (const std::exception& e) {
        throw std::runtime_error(column_where + ": " + e.what());
      }
    }
    columns_.push_back(std::move(entry));
  }
  if (columns_.empty()) throw std::runtime_error(where + " has no column");
}

void table::collect_columns(std::set<std::string>& columns) const {
  for (const column& entry : columns_) columns.insert(entry.oid);
}

void table::write(ptree& mappers_node) const {
  ptree& node = mappers_node.add_child("table", {});
  node.put("name", name());
  if (!index_variable_.empty()) node.put("index", index_variable_);
  for (const column& entry : columns_) {
    ptree& child = node.add_child("column", {});
    child.put("name", entry.variable);
    child.put("oid", entry.oid);
    if (entry.transform) child.put("transformation", entry.transform->name());
  }
}

void table::apply(const snmp::oid_value_map& response,
                  ctemplate::TemplateDictionary& dictionary) const {
  // Row index in OID order -> the value of each column (null for a missing cell).
  std::map<std::vector<std::uint64_t>, std::pair<std::string, std::vector<const std::string*>>>
      rows;
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    const std::string prefix = columns_[c].oid + ".";
    // Byte-wise order keeps every OID below the column together.
    for (auto cell = response.lower_bound(prefix);
         cell != response.end() && cell->first.compare(0, prefix.size(), prefix) == 0; ++cell) {
      const std::string index = cell->first.substr(prefix.size());
      auto& row = rows[index_parts(index)];
      if (row.second.empty()) row = {index, std::vector<const std::string*>(columns_.size())};
      row.second[c] = &cell->second;
    }
  }
  std::size_t count = 0;
  for (const auto& entry : rows) {
    if (++count > max_rows) break;
    ctemplate::TemplateDictionary* section = dictionary.AddSectionDictionary(name());
    if (!index_variable_.empty()) section->SetValue(index_variable_, entry.second.first);
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      std::string text = entry.second.second[c] ? *entry.second.second[c] : std::string();
      if (columns_[c].transform) columns_[c].transform->transform(text);
      section->SetValue(columns_[c].variable, text);
    }
  }
}

}  // namespace tamro::mappers
