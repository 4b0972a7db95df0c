#include "tests/support/temp_dir.hpp"

#include <boost/filesystem.hpp>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tamro::test {

temp_dir::temp_dir() {
  auto p = boost::filesystem::temp_directory_path() /
           boost::filesystem::unique_path("tamro-test-%%%%-%%%%-%%%%");
  boost::filesystem::create_directories(p);
  path_ = p.string();
}

temp_dir::~temp_dir() {
  boost::system::error_code ignored;
  boost::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out << content;
}

}  // namespace tamro::test
