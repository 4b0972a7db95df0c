#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "snmp/netsnmp/library.hpp"
#include "snmp/oid.hpp"
#include "snmp/pdu.hpp"
#include "snmp/response.hpp"
#include "snmp/value_text.hpp"
#include "tests/snmp/library_setup.hpp"

namespace tamro::snmp {
namespace {

class Values : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static test::temp_dir dir;
    configure_snmp(test::snmp_section(dir));  // numeric OID output
  }

  // A response PDU built here, one varbind per call of add().
  pdu response{netsnmp::pdu_implementation::create(SNMP_MSG_RESPONSE)};

  netsnmp_variable_list& add(const std::string& name, unsigned char type, const void* value,
                             std::size_t length) {
    const oid_value parsed(name);
    EXPECT_FALSE(parsed.empty()) << name;
    return *snmp_pdu_add_variable(response.get(), parsed.data(), parsed.size(), type, value,
                                  length);
  }
  netsnmp_variable_list& add_bytes(const std::string& name, unsigned char type,
                                   const std::vector<unsigned char>& bytes) {
    return add(name, type, bytes.data(), bytes.size());
  }
  std::string text_of(unsigned char type, const void* value, std::size_t length) {
    return value_text(add(".1.3.6.1.4.1.1.1.0", type, value, length));
  }
  // The library builds no plain float or double varbinds: put the value in place by hand.
  template <class Number>
  netsnmp_variable_list& retyped(unsigned char type, Number number) {
    auto& varbind =
        add_bytes(".1.3.6.1.4.1.1.4.0", ASN_OCTET_STR, std::vector<unsigned char>(sizeof number));
    std::memcpy(varbind.buf, &number, sizeof number);
    varbind.val.string = varbind.buf;
    varbind.type = type;
    return varbind;
  }
  std::string octets(const std::vector<unsigned char>& bytes) {
    return value_text(add_bytes(".1.3.6.1.4.1.1.2.0", ASN_OCTET_STR, bytes));
  }
};

TEST_F(Values, EveryTypeOfTheTable) {
  const long minus_one = -1;
  EXPECT_EQ(text_of(ASN_INTEGER, &minus_one, sizeof minus_one), "-1");
  const long big = 2147483647;
  EXPECT_EQ(text_of(ASN_INTEGER, &big, sizeof big), "2147483647");
  const unsigned long all_ones = 4294967295UL;
  EXPECT_EQ(text_of(ASN_GAUGE, &all_ones, sizeof all_ones), "4294967295");
  EXPECT_EQ(text_of(ASN_COUNTER, &all_ones, sizeof all_ones), "4294967295");
  const unsigned long ticks = 123456;
  EXPECT_EQ(text_of(ASN_TIMETICKS, &ticks, sizeof ticks), "123456");
  EXPECT_EQ(text_of(ASN_NULL, nullptr, 0), "(null)");
  const unsigned char address[] = {192, 168, 0, 1};
  EXPECT_EQ(text_of(ASN_IPADDRESS, address, sizeof address), "192.168.0.1");
  EXPECT_EQ(value_text(retyped(ASN_FLOAT, 1.0f / 3.0f)), "0.333333");
  EXPECT_EQ(value_text(retyped(ASN_DOUBLE, 1234567.891)), "1.23457e+06");
  EXPECT_EQ(text_of(SNMP_NOSUCHOBJECT, nullptr, 0), "(no such object)");
  EXPECT_EQ(text_of(SNMP_NOSUCHINSTANCE, nullptr, 0), "(no such instance)");
  EXPECT_EQ(text_of(SNMP_ENDOFMIBVIEW, nullptr, 0), "(end of MIB view)");

  const oid_value object(".1.3.6.1.4.1.8072");
  EXPECT_EQ(text_of(ASN_OBJECT_ID, object.data(), object.size() * sizeof(oid)),
            ".1.3.6.1.4.1.8072");
  const counter64 wide{1, 2};
  EXPECT_EQ(text_of(ASN_COUNTER64, &wide, sizeof wide), "4294967298");
  const counter64 widest{0xFFFFFFFF, 0xFFFFFFFF};
  EXPECT_EQ(text_of(ASN_COUNTER64, &widest, sizeof widest), "18446744073709551615");
  EXPECT_EQ(value_text(retyped(ASN_OPAQUE_FLOAT, 0.5f)), "0.5");
  EXPECT_EQ(value_text(retyped(ASN_OPAQUE_DOUBLE, -2.25)), "-2.25");
  const unsigned char opaque[] = {1, 2};
  EXPECT_EQ(text_of(ASN_OPAQUE, opaque, sizeof opaque), "(unrecognized type 0x44)");
}

TEST_F(Values, IpAddressOfOtherLengthIsUnrecognized) {
  auto& varbind = add_bytes(".1.3.6.1.4.1.1.3.0", ASN_OCTET_STR, {10, 0, 0, 1, 0, 9});
  varbind.type = ASN_IPADDRESS;  // the library refuses to build one, a device may still send it
  EXPECT_EQ(value_text(varbind), "(unrecognized IP address format)");
}

TEST_F(Values, OctetStringPrintableOrHexadecimal) {
  EXPECT_EQ(octets({'a', 'b', 'c'}), "abc");
  EXPECT_EQ(octets({'a', 'b', 'c', 0}), "abc");  // a C string's terminator is dropped
  EXPECT_EQ(octets({0}), "");
  EXPECT_EQ(octets({0x61, 0x62, 0x00, 0x63}), "61620063");
  EXPECT_EQ(octets({'a', 'b', 0, 0}), "61620000");
  EXPECT_EQ(octets({'a', 'b', '\n'}), "61620A");
  EXPECT_EQ(octets({0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}), "001A2B3C4D5E");
  EXPECT_EQ(octets({' ', '~'}), " ~");
  EXPECT_EQ(octets({'x', 0x7F}), "787F");
  EXPECT_EQ(octets({}), "");
}

TEST_F(Values, ResponseMapSkipsExceptionsAndNullsKeepsEmptyStringsAndFirstDuplicate) {
  add_bytes(".1.3.6.1.2.1.1.5.0", ASN_OCTET_STR, {'o', 'n', 'e'});
  add_bytes(".1.3.6.1.2.1.1.5.0", ASN_OCTET_STR, {'t', 'w', 'o'});
  add(".1.3.6.1.2.1.1.6.0", SNMP_NOSUCHINSTANCE, nullptr, 0);
  add(".1.3.6.1.2.1.1.7.0", SNMP_NOSUCHOBJECT, nullptr, 0);
  add(".1.3.6.1.2.1.1.8.0", SNMP_ENDOFMIBVIEW, nullptr, 0);
  add(".1.3.6.1.2.1.1.9.0", ASN_NULL, nullptr, 0);  // what a v1 agent echoes with an error
  add_bytes(".1.3.6.1.2.1.1.4.0", ASN_OCTET_STR, {});
  const long seven = 7;
  add(".1.3.6.1.2.1.10.0", ASN_INTEGER, &seven, sizeof seven);

  const oid_value_map expected{
      {".1.3.6.1.2.1.1.4.0", ""}, {".1.3.6.1.2.1.1.5.0", "one"}, {".1.3.6.1.2.1.10.0", "7"}};
  EXPECT_EQ(response_map(*response.get()), expected);
}

TEST(Oids, AddedInByteWiseOrderAndUnparsableOnesAreEmpty) {
  static test::temp_dir dir;
  configure_snmp(test::snmp_section(dir));
  auto request = pdu::get_request();
  ASSERT_TRUE(request);
  EXPECT_EQ(request.get()->command, SNMP_MSG_GET);
  add_oids(request, std::set<std::string>{".1.3.6.1.2.1.1.3.0", ".1.3.6.1.2.1.1.10.0", "not an oid",
                                          ".1.3.6.1.2.1.1.3.0"});

  std::vector<std::string> names;
  for (auto* v = request.get()->variables; v != nullptr; v = v->next_variable) {
    EXPECT_EQ(v->type, ASN_NULL);
    names.push_back(numeric_oid_text(v->name, v->name_length));
  }
  // "." sorts before any digit and "1" before "3": byte-wise, not numeric, order.
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], ".1.3.6.1.2.1.1.10.0");
  EXPECT_EQ(names[1], ".1.3.6.1.2.1.1.3.0");
  EXPECT_EQ(request.get()->variables->next_variable->next_variable->name_length, 0u);

  EXPECT_TRUE(oid_value("not an oid").empty());
  EXPECT_EQ(oid_value(".1.3.6.1.2.1.1.3.0").size(), 9u);
  EXPECT_EQ(oid_value("1.3.6.1.2.1.1.3.0").text(), ".1.3.6.1.2.1.1.3.0");
}

TEST(LogText, BinaryBecomesSpacedHexadecimal) {
  EXPECT_EQ(log_text("A\xE9"), "41 E9");
  EXPECT_EQ(log_text("\x80"), "80");
  EXPECT_EQ(log_text("plain text\t1"), "plain text\t1");
  EXPECT_EQ(log_text(""), "");
}

}  // namespace
}  // namespace tamro::snmp
