#include "tests/app/exposition_reader.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <regex>
#include <set>
#include <stdexcept>
#include <vector>

namespace tamro::test {
namespace {

const std::regex metric_name("[a-zA-Z_:][a-zA-Z0-9_:]*");
const std::regex label_name("[a-zA-Z_][a-zA-Z0-9_]*");
const std::regex float_value("[+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)([eE][+-]?[0-9]+)?|NaN|[+-]?Inf");
const std::regex timestamp_value("-?[0-9]+");
const std::set<std::string> known_types = {"counter", "gauge", "histogram", "summary", "untyped"};

bool matches(const std::string& text, const std::regex& grammar) {
  return std::regex_match(text, grammar);
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

struct line_reader {
  const std::string& line;
  std::size_t number;
  std::size_t at = 0;

  [[noreturn]] void fail(const std::string& why) const {
    throw std::runtime_error("line " + std::to_string(number) + ": " + why + ": " + line);
  }
  bool done() const { return at >= line.size(); }
  void skip_blanks() {
    while (!done() && is_blank(line[at])) ++at;
  }
  // Up to the next blank (or one of the stop characters).
  std::string token(const char* stops = "") {
    const std::size_t start = at;
    while (!done() && !is_blank(line[at]) && !std::strchr(stops, line[at])) ++at;
    return line.substr(start, at - start);
  }
  // A quoted label value, its escapes kept as written.
  std::string quoted() {
    if (done() || line[at] != '"') fail("label value not in double quotes");
    std::string text;
    for (++at; !done() && line[at] != '"'; ++at) {
      if (line[at] == '\\') {
        if (at + 1 >= line.size() || !std::strchr("\\\"n", line[at + 1])) fail("bad escape");
        text += line[at++];
      }
      text += line[at];
    }
    if (done()) fail("unterminated label value");
    ++at;
    return text;
  }
};

struct family_state {
  std::string type;
  bool has_help = false;
  bool has_samples = false;
  bool closed = false;
  std::vector<std::pair<double, double>> buckets;  // le, count, in the order written
  std::optional<double> count;
  bool has_sum = false;
};

double number(const std::string& text) {
  if (text == "+Inf" || text == "Inf") return HUGE_VAL;
  if (text == "-Inf") return -HUGE_VAL;
  return std::strtod(text.c_str(), nullptr);
}

}  // namespace

double exposition::value(const std::string& series) const { return number(samples.at(series)); }

exposition read_exposition(const std::string& text) {
  exposition page;
  if (!text.empty() && text.back() != '\n') throw std::runtime_error("no line end at the end");
  std::map<std::string, family_state> families;
  std::string current;  // the family of the latest sample

  std::size_t number_of_line = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    line_reader in{line, ++number_of_line};
    if (line.empty()) continue;

    if (line[0] == '#') {
      in.at = 1;
      in.skip_blanks();
      const std::string keyword = in.token();
      if (keyword != "HELP" && keyword != "TYPE") continue;  // a comment
      in.skip_blanks();
      const std::string name = in.token();
      if (!matches(name, metric_name)) in.fail("bad metric name");
      auto& family = families[name];
      if (family.has_samples) in.fail(keyword + " after the family's samples");
      in.skip_blanks();
      const std::string rest = line.substr(in.at);
      if (keyword == "HELP") {
        if (family.has_help) in.fail("second HELP");
        for (std::size_t i = 0; i < rest.size(); ++i)
          if (rest[i] == '\\' && (i + 1 >= rest.size() || !std::strchr("\\n", rest[++i])))
            in.fail("bad escape in HELP");
        family.has_help = true;
      } else {
        if (!family.type.empty()) in.fail("second TYPE");
        if (!known_types.count(rest)) in.fail("unknown type");
        family.type = rest;
      }
      continue;
    }

    const std::string name = in.token("{");
    if (!matches(name, metric_name)) in.fail("bad metric name");
    std::string series = name;
    std::map<std::string, std::string> labels;
    if (!in.done() && line[in.at] == '{') {
      ++in.at;
      series += "{";
      for (;;) {
        in.skip_blanks();
        if (!in.done() && line[in.at] == '}') break;
        const std::string label = in.token("=,}");
        if (!matches(label, label_name) || label.compare(0, 2, "__") == 0)
          in.fail("bad label name");
        in.skip_blanks();
        if (in.done() || line[in.at] != '=') in.fail("no = after the label name");
        ++in.at;
        in.skip_blanks();
        const std::string value = in.quoted();
        if (!labels.emplace(label, value).second) in.fail("label given twice");
        if (series.back() != '{') series += ",";
        series += label + "=\"" + value + "\"";
        in.skip_blanks();
        if (!in.done() && line[in.at] == ',')
          ++in.at;
        else if (in.done() || line[in.at] != '}')
          in.fail("no , or } after a label");
      }
      ++in.at;
      series += "}";
    }
    if (in.done() || !is_blank(line[in.at])) in.fail("no blank before the value");
    in.skip_blanks();
    const std::string value = in.token();
    if (!matches(value, float_value)) in.fail("value is not a number of the format");
    in.skip_blanks();
    if (!in.done()) {
      if (!matches(in.token(), timestamp_value)) in.fail("bad timestamp");
      in.skip_blanks();
      if (!in.done()) in.fail("garbage after the sample");
    }

    // The family: the name itself, or a histogram's or summary's suffixed series.
    std::string family_name = name;
    std::string suffix;
    if (!families.count(name) || families[name].type.empty()) {
      for (const char* candidate : {"_bucket", "_sum", "_count"}) {
        const std::string s = candidate;
        if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0 &&
            families.count(name.substr(0, name.size() - s.size()))) {
          family_name = name.substr(0, name.size() - s.size());
          suffix = s;
        }
      }
    }
    auto known = families.find(family_name);
    if (known == families.end() || known->second.type.empty())
      in.fail("sample of no family declared by TYPE");
    family_state& family = known->second;
    const bool histogram = family.type == "histogram";
    if (!suffix.empty() && !(histogram || (family.type == "summary" && suffix != "_bucket")))
      in.fail("suffix does not fit the family's type");
    if (histogram && suffix.empty()) in.fail("a histogram sample without its suffix");
    if (family.closed) in.fail("samples of " + family_name + " are not together");
    if (current != family_name) {
      if (!current.empty()) families[current].closed = true;
      current = family_name;
    }
    family.has_samples = true;
    if (!page.samples.emplace(series, value).second) in.fail("series given twice");

    const double parsed = number(value);
    if (family.type == "counter" && !(parsed >= 0)) in.fail("counter below zero");
    if (suffix == "_bucket") {
      if (!labels.count("le") || !matches(labels["le"], float_value)) in.fail("bucket without le");
      if (!family.buckets.empty() && (number(labels["le"]) <= family.buckets.back().first ||
                                      parsed < family.buckets.back().second))
        in.fail("buckets not cumulative in increasing le");
      family.buckets.emplace_back(number(labels["le"]), parsed);
    }
    if (suffix == "_count") family.count = parsed;
    if (suffix == "_sum") family.has_sum = true;
  }

  for (const auto& [name, family] : families) {
    page.types[name] = family.type;
    if (family.type != "histogram" || !family.has_samples) continue;
    if (family.buckets.empty() || family.buckets.back().first != HUGE_VAL || !family.count ||
        !family.has_sum || family.buckets.back().second != *family.count)
      throw std::runtime_error("histogram " + name + " lacks its +Inf bucket, sum or count");
  }
  return page;
}

}  // namespace tamro::test
