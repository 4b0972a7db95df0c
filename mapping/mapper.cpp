#include "mapping/mapper.hpp"

namespace tamro {

mapper::mapper(std::string name) : name_(std::move(name)) {}

mapper::~mapper() = default;

void mapper::collect_oids(std::set<std::string>&) const {}

void mapper::collect_columns(std::set<std::string>&) const {}

void mapper::write(boost::property_tree::ptree&) const {}

}  // namespace tamro
