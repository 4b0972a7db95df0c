// What a walk makes of answers no device should give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "snmp/netsnmp/library.hpp"
#include "snmp/netsnmp/pdu_implementation.hpp"
#include "snmp/oid.hpp"
#include "snmp/table_walk.hpp"
#include "tests/snmp/library_setup.hpp"

namespace tamro::snmp {
namespace {

const std::string first = ".1.3.6.1.4.1.99999.80.1";
const std::string second = ".1.3.6.1.4.1.99999.80.2";

class TableWalk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static test::temp_dir dir;
    configure_snmp(test::snmp_section(dir));
  }

  // A response with these values (OCTET STRINGs "x") and this error status and index.
  static pdu answer(const std::vector<std::string>& names, long status = 0, long index = 0) {
    pdu response(netsnmp::pdu_implementation::create(SNMP_MSG_RESPONSE));
    response.get()->errstat = status;
    response.get()->errindex = index;
    for (const std::string& name : names) {
      const oid_value parsed(name);
      snmp_pdu_add_variable(response.get(), parsed.data(), parsed.size(), ASN_OCTET_STR, "x", 1);
    }
    return response;
  }

  static std::vector<std::string> failed_columns(table_walk& walk) {
    std::vector<std::string> columns;
    for (const auto& failure : walk.new_failures()) columns.push_back(failure.column);
    return columns;
  }

  static std::vector<std::string> asked(const pdu& request) {
    std::vector<std::string> names;
    for (auto* v = request.get()->variables; v != nullptr; v = v->next_variable)
      names.push_back(numeric_oid_text(v->name, v->name_length));
    return names;
  }
};

TEST_F(TableWalk, WithoutAColumnTheLibraryTakesItIsOverAtOnceAndNoAnswerUpsetsIt) {
  std::string too_long = first;
  for (int arc = 0; arc < 130; ++arc) too_long += ".1";
  table_walk walk({too_long}, SNMP_VERSION_2c, 10);
  EXPECT_TRUE(walk.finished());
  EXPECT_TRUE(walk.failed());
  EXPECT_EQ(failed_columns(walk), std::vector<std::string>{too_long});

  // An answer to nothing asked, before and after an empty request, is not placed anywhere.
  walk.take(*answer({first + ".1", first + ".2"}).get());
  EXPECT_TRUE(asked(walk.next_request()).empty());
  walk.take(*answer({first + ".1"}).get());
  walk.take_nothing();
  EXPECT_TRUE(walk.values().empty());
  EXPECT_TRUE(walk.new_failures().empty());
}

TEST_F(TableWalk, AnErrorStatusEndsTheColumnItNamesOrEveryColumnAskedWhenItNamesNone) {
  struct blame {
    long index;
    std::vector<std::string> failed;
    std::vector<std::string> asked_next;
  };
  const blame cases[] = {
      {2, {second}, {first}}, {0, {first, second}, {}}, {3, {first, second}, {}}};
  for (const blame& c : cases) {
    SCOPED_TRACE("index " + std::to_string(c.index));
    table_walk walk({first, second}, SNMP_VERSION_2c, 10);
    EXPECT_EQ(asked(walk.next_request()), (std::vector<std::string>{first, second}));
    walk.take(*answer({}, SNMP_ERR_GENERR, c.index).get());
    EXPECT_EQ(failed_columns(walk), c.failed);
    EXPECT_EQ(walk.finished(), c.asked_next.empty());
    EXPECT_EQ(walk.failed(), c.asked_next.empty());
    if (!c.asked_next.empty()) {
      EXPECT_EQ(asked(walk.next_request()), c.asked_next);
    }
  }
}

}  // namespace
}  // namespace tamro::snmp
