#include "snmp/usm_names.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tamro::snmp {
namespace {

// Both key extensions of AES-192 and AES-256 are named, in any case, and the Cisco one also
// in the short form some tools use; each is written back in its one long form.
TEST(UsmNames, PrivacyProtocolsAreReadInAnyCaseAndWrittenInOneForm) {
  const struct {
    const char* text;
    privacy_protocol protocol;
    const char* written;
  } cases[] = {{"aes-192", privacy_protocol::aes192, "AES-192"},
               {"AES-256-C", privacy_protocol::aes256_cisco, "AES-256-C"},
               {"aes-192-c", privacy_protocol::aes192_cisco, "AES-192-C"},
               {"AES192C", privacy_protocol::aes192_cisco, "AES-192-C"},
               {"aes256c", privacy_protocol::aes256_cisco, "AES-256-C"}};
  for (const auto& c : cases) {
    EXPECT_EQ(parse_privacy_protocol(c.text), c.protocol) << c.text;
    EXPECT_STREQ(name_of(c.protocol), c.written) << c.text;
  }
  EXPECT_THROW(parse_privacy_protocol("AES-256-X"), std::invalid_argument);
}

}  // namespace
}  // namespace tamro::snmp
