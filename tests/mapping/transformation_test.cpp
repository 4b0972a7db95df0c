#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "mapping/mac_address.hpp"
#include "mapping/transformation.hpp"

namespace tamro {
namespace {

std::string transformed(const std::string& keyword, std::string text) {
  make_transformation(keyword)->transform(text);
  return text;
}

std::string seconds(const std::string& ticks) { return transformed("timeticks-to-seconds", ticks); }
std::string mac(const std::string& text) { return transformed("format-mac-address", text); }

TEST(TransformationFactory, SharesOneInstancePerKeywordAndRejectsOthers) {
  const auto ticks = make_transformation("timeticks-to-seconds");
  const auto mac_form = make_transformation("format-mac-address");
  EXPECT_STREQ(ticks->name(), "timeticks-to-seconds");
  EXPECT_STREQ(mac_form->name(), "format-mac-address");
  EXPECT_EQ(ticks, make_transformation("timeticks-to-seconds"));
  EXPECT_EQ(mac_form, make_transformation("format-mac-address"));

  for (const std::string bad : {"Timeticks-to-seconds", " format-mac-address", "", "uppercase"}) {
    try {
      make_transformation(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "unknown transformation: " + bad);
    }
  }
}

TEST(TimeticksToSeconds, DividesUnsignedTicksByHundred) {
  EXPECT_EQ(seconds("12345"), "123");
  EXPECT_EQ(seconds("99"), "0");
  EXPECT_EQ(seconds("0"), "0");
  EXPECT_EQ(seconds("0000012345"), "123");
  EXPECT_EQ(seconds("4294967295"), "42949672");
  EXPECT_EQ(seconds("+250"), "2");
}

TEST(TimeticksToSeconds, NegativeWrapsModulo2To32) {
  EXPECT_EQ(seconds("-100"), "42949671");
  EXPECT_EQ(seconds("-1"), "42949672");
  EXPECT_EQ(seconds("-0"), "0");
  EXPECT_EQ(seconds("-4294967295"), "0");
}

TEST(TimeticksToSeconds, LeavesUnusableTextUnchanged) {
  for (const std::string text : {"", "-", "+", "4294967296", "99999999999999999999", "12 345",
                                 "1,000", " 100", "100 ", "abc", "12a", "--5", "+-5", "1.5"}) {
    EXPECT_EQ(seconds(text), text);
  }
}

TEST(MacAddress, HexPairsWithOrWithoutSeparatorsBecomeUpperColonForm) {
  for (const std::string text : {"001a2b3c4d5e", "00-1A-2B-3C-4D-5E", "00.1a 2b:3C-4d:5e",
                                 "00:1a:2b:3c:4d:5e", "00 1A 2B 3C 4D 5E", "00.1A.2B.3C.4D.5E"}) {
    EXPECT_EQ(mac(text), "00:1A:2B:3C:4D:5E") << text;
  }
}

TEST(MacAddress, SixCharactersAreRawBytesEvenWhenPrintable) {
  EXPECT_EQ(mac(std::string("\x00\x1a\x2b\x3c\x4d\x5e", 6)), "00:1A:2B:3C:4D:5E");
  EXPECT_EQ(mac("ABCDEF"), "41:42:43:44:45:46");
  EXPECT_EQ(mac(std::string("\xff\x80\x01\x7f\x10\x00", 6)), "FF:80:01:7F:10:00");
}

TEST(MacAddress, SeparatorsAfterOnlySomePairsKeepThePairsInOrder) {
  EXPECT_EQ(mac("00:1a2b3c4d5e"), "00:1A:2B:3C:4D:5E");     // 13
  EXPECT_EQ(mac("001a2b3c4d-5e"), "00:1A:2B:3C:4D:5E");     // 13, separator last
  EXPECT_EQ(mac("00:1a:2b3c4d5e"), "00:1A:2B:3C:4D:5E");    // 14
  EXPECT_EQ(mac("00 1a.2b3c-4d5e"), "00:1A:2B:3C:4D:5E");   // 15
  EXPECT_EQ(mac("001a:2b:3c:4d:5e"), "00:1A:2B:3C:4D:5E");  // 16
  EXPECT_EQ(mac("ab:cd:ef:01:23:45"), "AB:CD:EF:01:23:45");
}

TEST(MacAddress, RejectsAndLeavesOtherTextsUnchanged) {
  for (const std::string text : {"", "001a2b3c4d", "001a2b3c4d5e6f", "00::1a:2b:3c:4d:5e",
                                 "00:1a:2b:3c:4d:5e:", ":00:1a:2b:3c:4d:5e", "00:1a:2b:3c:4d:5g",
                                 "00_1a_2b_3c_4d_5e", "0:1a:2b:3c:4d:5e", "00:1a:2b:3c:4d:5e:6f",
                                 "00:1a:2b:3c:4d:5e0", "hello world", "00:1A:2B:3C:4D"}) {
    std::string copy = text;
    EXPECT_FALSE(normalize_mac_address(copy)) << text;
    EXPECT_EQ(copy, text);
    EXPECT_EQ(mac(text), text);
  }
}

}  // namespace
}  // namespace tamro
