#pragma once

#include <map>
#include <string>

namespace tamro::test {

// What a strict reader of the Prometheus text format (0.0.4) makes of a page.
struct exposition {
  std::map<std::string, std::string> types;  // family name -> type
  // "name{label="value",...}" as written -> the value's text, checked to be a float of the
  // format (Go's ParseFloat syntax, NaN, +Inf, -Inf).
  std::map<std::string, std::string> samples;

  double value(const std::string& series) const;  // throws std::out_of_range when absent
  bool has(const std::string& series) const { return samples.count(series) > 0; }
};

// Throws std::runtime_error naming the line for anything the format does not allow: a
// sample before its family's TYPE or of no declared family, a family declared twice or
// whose samples are not together, names and labels that break the grammar, label values
// with other escapes than \\ \" \n, a value or timestamp that is not a number of the
// format, a repeated series, a negative counter, a histogram without its +Inf bucket, sum
// and count, a missing final line end.
exposition read_exposition(const std::string& text);

}  // namespace tamro::test
