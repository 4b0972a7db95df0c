#include "config/xml_file.hpp"

#include <boost/filesystem.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <fstream>
#include <stdexcept>

namespace tamro {

boost::property_tree::ptree read_xml_file(const std::string& path, int flags) {
  boost::property_tree::ptree tree;
  boost::property_tree::read_xml(path, tree, flags);
  return tree;
}

void write_xml_file(const std::string& path, const boost::property_tree::ptree& tree) {
  namespace fs = boost::filesystem;
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const fs::path temporary = folder / fs::unique_path(target.filename().string() + ".%%%%%%.tmp");
  try {
    {
      std::ofstream out(temporary.string(), std::ios::out | std::ios::trunc | std::ios::binary);
      if (!out) throw std::runtime_error("cannot create " + temporary.string());
      boost::property_tree::write_xml(
          out, tree, boost::property_tree::xml_writer_make_settings<std::string>(' ', 2, "utf-8"));
      out.flush();
      if (!out) throw std::runtime_error("cannot write " + temporary.string());
    }
    fs::rename(temporary, target);
  } catch (const std::exception& e) {
    boost::system::error_code ignored;
    fs::remove(temporary, ignored);
    throw std::runtime_error(path + ": " + e.what());
  }
}

}  // namespace tamro
