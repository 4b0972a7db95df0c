#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "config/value_syntax.hpp"

namespace tamro {
namespace {

TEST(NumericOid, OptionalLeadingDotThenDigitGroups) {
  for (const char* good : {"1", ".1", "1.3.6.1.2.1.1.3.0", ".1.3.6.1.2.1.1.3.0", "0.0"}) {
    EXPECT_TRUE(is_numeric_oid(good)) << good;
  }
  for (const char* bad : {"", ".", "..1", "1..3", "1.3.6.", "$(eth0)", " 1.3", "1.3 ", "1.a", "-1",
                          "+1", "1,3", "\xd9\xa1"}) {
    EXPECT_FALSE(is_numeric_oid(bad)) << bad;
  }
}

TEST(ValueSyntax, PortsAreFiveDigitsAtMost65535) {
  for (const auto& [text, port] :
       {std::pair<const char*, unsigned>{"0", 0}, {"161", 161}, {"00161", 161}, {"65535", 65535}})
    EXPECT_EQ(parse_port(text), port) << text;
  for (const char* bad : {"", "65536", "100000", "-1", "+161", " 161", "161 ", "16a", "1.6"})
    EXPECT_EQ(parse_port(bad), std::nullopt) << bad;
}

TEST(ValueSyntax, IntegersMayHaveBlanksAroundAndASign) {
  struct reading {
    const char* text;
    std::optional<long long> value;
  };
  for (const reading& r : {reading{"5", 5},
                           {" 5", 5},
                           {"5 \n", 5},
                           {"+5", 5},
                           {"-5", -5},
                           {"2147483647", 2147483647},
                           {"2147483648", std::nullopt},  // beyond the range asked for
                           {"-2147483649", std::nullopt},
                           {"99999999999999999999", std::nullopt},
                           {"", std::nullopt},
                           {"+", std::nullopt},
                           {"+-5", std::nullopt},
                           {"5 5", std::nullopt},
                           {"5.0", std::nullopt},
                           {"0x10", std::nullopt},
                           {"abc", std::nullopt}})
    EXPECT_EQ(parse_integer(r.text, -2147483648LL, 2147483647LL), r.value) << r.text;
  EXPECT_EQ(parse_integer("0", 1, 10), std::nullopt) << "below the lowest";
}

}  // namespace
}  // namespace tamro
