#pragma once

#include <boost/property_tree/ptree.hpp>
#include <string>
#include <vector>

namespace tamro {

// The deepest any XML document read by the agent may nest its elements: the tree reader
// recurses once per level, and a reply of some hundred thousand levels exhausts the stack.
constexpr int max_xml_depth = 64;

// Reads XML text into a tree; flags are those of the property tree XML reader. Text nested
// deeper than max_xml_depth is refused before the reader sees it. Errors are the reader's
// xml_parser_error, naming source (empty: "<unspecified file>") and the line.
boost::property_tree::ptree read_xml_text(const std::string& text, int flags = 0,
                                          const std::string& source = "");

// As read_xml_text, for a file; also refuses a comment that another comment starts inside
// (one whose "-->" was mistyped), which the reader would take up to the next comment's end.
boost::property_tree::ptree read_xml_file(const std::string& path, int flags = 0);
// The file's bytes; throws xml_parser_error naming the file when it cannot be read.
std::string read_text_file(const std::string& path);

// What the tree reader lets pass, each as "SOURCE(LINE): TEXT": an end tag that does not
// match the element it closes (<level>info</levle>), and an element after the end of the
// root element. Only the first is reported: the text after it is out of step.
std::vector<std::string> loose_xml_problems(const std::string& text, const std::string& source);
// As loose_xml_problems, for a file; throws as read_xml_file does when it cannot be read.
std::vector<std::string> loose_xml_file_problems(const std::string& path);

// Writes a tree as XML (two-blank indentation, "utf-8") and replaces the file atomically:
// the text goes to a temporary file in the same folder, which is then renamed over the
// old one, so a crash, a full disk or a power loss never leaves a truncated file (the text
// and then the rename are flushed to the disk before it returns). The new file has the
// old one's permissions (owner read and write only for a file that did not exist); a file
// that already holds exactly this text is not written at all. Throws std::runtime_error
// naming the file when anything fails; the old file is then untouched.
void write_xml_file(const std::string& path, const boost::property_tree::ptree& tree);

// Removes the temporary files that a write_xml_file of this path left behind when the
// process was killed between writing and renaming.
void remove_leftover_temporaries(const std::string& path);

}  // namespace tamro
