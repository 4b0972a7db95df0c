#include "config/xml_file.hpp"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "config/durable_file.hpp"
#include "config/system_reason.hpp"

namespace tamro {
namespace {

using boost::property_tree::xml_parser_error;

// Where text of the form "<" ... ends: the position after `end`, or the text's size.
std::size_t skip_past(std::string_view text, std::size_t from, std::string_view end) {
  const auto at = text.find(end, from);
  return at == std::string_view::npos ? text.size() : at + end.size();
}

// The end of a tag, past quoted attribute values, which may hold ">".
std::size_t tag_end(std::string_view text, std::size_t from) {
  char quote = 0;
  for (std::size_t i = from; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i;
    }
  }
  return text.size();
}

// A declaration such as DOCTYPE may hold an internal subset in brackets with tags inside.
std::size_t declaration_end(std::string_view text, std::size_t from) {
  int brackets = 0;
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == '[') ++brackets;
    if (text[i] == ']') --brackets;
    if (text[i] == '>' && brackets <= 0) return i + 1;
  }
  return text.size();
}

// A start, end or empty-element tag met by walk_tags.
struct tag_event {
  enum kind_type { start, end, empty } kind;
  std::string_view name;
  std::size_t line;  // of the tag's "<"
};

std::string_view tag_name(std::string_view text, std::size_t from) {
  const std::size_t stop = std::min(text.find_first_of(" \t\r\n/>", from), text.size());
  return text.substr(from, stop - from);
}

// Calls visit(tag_event) for each tag in order, past comments, CDATA, processing
// instructions and declarations, until visit returns false. Counts tags without parsing:
// what is malformed is left to the reader.
template <class Visit>
void walk_tags(std::string_view text, Visit visit) {
  std::size_t line = 1;
  std::size_t counted = 0;  // text before this has had its line breaks counted
  const auto line_at = [&](std::size_t at) {
    for (; counted < at; ++counted) line += text[counted] == '\n';
    return line;
  };
  std::size_t i = text.find('<');
  while (i != std::string_view::npos && i + 1 < text.size()) {
    const std::string_view rest = text.substr(i);
    std::size_t next;
    if (rest.compare(0, 4, "<!--") == 0) {
      next = skip_past(text, i + 4, "-->");
    } else if (rest.compare(0, 9, "<![CDATA[") == 0) {
      next = skip_past(text, i + 9, "]]>");
    } else if (text[i + 1] == '?') {
      next = skip_past(text, i + 2, "?>");
    } else if (text[i + 1] == '!') {
      next = declaration_end(text, i + 2);
    } else if (text[i + 1] == '/') {
      if (!visit(tag_event{tag_event::end, tag_name(text, i + 2), line_at(i)})) return;
      next = tag_end(text, i + 2) + 1;
    } else {
      const std::size_t end = tag_end(text, i + 1);
      if (end < text.size()) {
        const auto kind = text[end - 1] == '/' ? tag_event::empty : tag_event::start;
        if (!visit(tag_event{kind, tag_name(text, i + 1), line_at(i)})) return;
      }
      next = end + 1;
    }
    i = next < text.size() ? text.find('<', next) : std::string_view::npos;
  }
}

// The line on which the elements first nest deeper than limit, or 0 when they never do.
std::size_t line_nested_too_deep(std::string_view text, int limit) {
  int depth = 0;
  std::size_t found = 0;
  walk_tags(text, [&](const tag_event& tag) {
    if (tag.kind == tag_event::end) --depth;
    if (tag.kind != tag_event::start || ++depth <= limit) return true;
    found = tag.line;
    return false;
  });
  return found;
}

// The line of a comment that holds the start of another one: "->" or "- ->" where "-->" was
// meant, which silently swallows everything up to the next comment's end; 0 when there is
// none.
std::size_t line_of_unclosed_comment(std::string_view text) {
  std::size_t line = 1;
  std::size_t counted = 0;
  for (std::size_t at = text.find("<!"); at != std::string_view::npos; at = text.find("<!", at)) {
    if (text.compare(at, 9, "<![CDATA[") == 0) {
      at = skip_past(text, at + 9, "]]>");
      continue;
    }
    if (text.compare(at, 4, "<!--") != 0) {
      at += 2;
      continue;
    }
    const std::size_t end = skip_past(text, at + 4, "-->");
    if (text.substr(at + 4, end - at - 4).find("<!--") != std::string_view::npos) {
      for (; counted < at; ++counted) line += text[counted] == '\n';
      return line;
    }
    at = end;
  }
  return 0;
}

}  // namespace

boost::property_tree::ptree read_xml_text(const std::string& text, int flags,
                                          const std::string& source) {
  if (const std::size_t line = line_nested_too_deep(text, max_xml_depth)) {
    throw xml_parser_error(
        "elements nested deeper than " + std::to_string(max_xml_depth) + " levels", source,
        static_cast<unsigned long>(line));
  }
  std::istringstream in(text);
  boost::property_tree::ptree tree;
  try {
    boost::property_tree::read_xml(in, tree, flags);
  } catch (const xml_parser_error& e) {
    throw xml_parser_error(e.message(), source, e.line());
  }
  return tree;
}

std::string read_text_file(const std::string& path) {
  boost::system::error_code ignored;
  if (boost::filesystem::is_directory(path, ignored))
    throw xml_parser_error("cannot open file: it is a folder", path, 0);
  std::ifstream file(path, std::ios::binary);
  if (!file) throw xml_parser_error("cannot open file: " + system_reason(), path, 0);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

boost::property_tree::ptree read_xml_file(const std::string& path, int flags) {
  const std::string text = read_text_file(path);
  if (const std::size_t line = line_of_unclosed_comment(text))
    throw xml_parser_error(
        "comment not closed: another comment starts inside it (a comment ends with \"-->\")", path,
        static_cast<unsigned long>(line));
  return read_xml_text(text, flags, path);
}

std::vector<std::string> loose_xml_problems(const std::string& text, const std::string& source) {
  std::vector<std::string> problems;
  std::vector<std::string_view> open;
  bool root_ended = false;
  walk_tags(text, [&](const tag_event& tag) {
    const std::string at = source + "(" + std::to_string(tag.line) + "): ";
    if (root_ended) {
      problems.push_back(at + "element <" + std::string(tag.name) +
                         "> after the end of the root element");
      return false;
    }
    if (tag.kind == tag_event::start) open.push_back(tag.name);
    if (tag.kind == tag_event::end) {
      if (open.empty() || open.back() != tag.name) {
        problems.push_back(at + "end tag </" + std::string(tag.name) + "> does not match " +
                           (open.empty() ? std::string("any start tag")
                                         : "the start tag <" + std::string(open.back()) + ">"));
        return false;  // what follows is out of step
      }
      open.pop_back();
    }
    root_ended = open.empty();
    return true;
  });
  return problems;
}

std::vector<std::string> loose_xml_file_problems(const std::string& path) {
  return loose_xml_problems(read_text_file(path), path);
}

void write_xml_file(const std::string& path, const boost::property_tree::ptree& tree) {
  namespace fs = boost::filesystem;
  std::ostringstream rendered;
  boost::property_tree::write_xml(
      rendered, tree, boost::property_tree::xml_writer_make_settings<std::string>(' ', 2, "utf-8"));
  const std::string text = rendered.str();
  const fs::path target(path);
  boost::system::error_code absent;
  const fs::file_status old_status = fs::status(target, absent);
  if (fs::is_regular_file(old_status)) {
    // A server that sends the same lists with every reply must not cost a write each time.
    std::ifstream old(path, std::ios::binary);
    std::ostringstream current;
    current << old.rdbuf();
    if (old && current.str() == text) return;
  }
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const fs::path temporary = folder / fs::unique_path(target.filename().string() + ".%%%%%%.tmp");
  try {
    // On the disk before the rename, and the rename on the disk before returning: a power
    // loss then leaves the old file or the new one, never an empty or truncated one.
    write_durable_file(temporary.string(), text, path);
    fs::rename(temporary, target);
    sync_folder(folder.string());
  } catch (const std::exception& e) {
    boost::system::error_code ignored;
    fs::remove(temporary, ignored);
    throw std::runtime_error(path + ": " + e.what());
  }
}

void remove_leftover_temporaries(const std::string& path) {
  namespace fs = boost::filesystem;
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const std::string prefix = target.filename().string() + ".";
  boost::system::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    // Exactly the names write_xml_file makes: the file's name, six hexadecimal digits, ".tmp".
    const bool ours =
        name.size() == prefix.size() + 10 && name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(name.size() - 4, 4, ".tmp") == 0 &&
        std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end() - 4,
                    [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
    boost::system::error_code ignored;
    if (ours) fs::remove(entry->path(), ignored);
  }
}

}  // namespace tamro
