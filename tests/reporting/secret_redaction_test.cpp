#include <gtest/gtest.h>

#include "reporting/secret_redaction.hpp"

namespace tamro {
namespace {

TEST(SecretRedaction, MasksSecretsAndLeavesTheRestAsItWas) {
  struct redaction {
    const char* text;
    const char* expected;
  };
  const redaction cases[] = {
      {"<device><community>public</community><ip-address>10.0.0.5</ip-address></device>",
       "<device><community>***</community><ip-address>10.0.0.5</ip-address></device>"},
      {"<auth-passphrase>a&amp;b</auth-passphrase>\n<privacy-passphrase>p w</privacy-passphrase>",
       "<auth-passphrase>***</auth-passphrase>\n<privacy-passphrase>***</privacy-passphrase>"},
      // Attributes on the tag, a CDATA section holding a closing tag, an empty value.
      {"<community type=\"v2\">x</community>", "<community type=\"v2\">***</community>"},
      {"<community><![CDATA[a</community>b]]></community>", "<community>***</community>"},
      {"<community/><community></community>", "<community/><community></community>"},
      {"<device community=\"public\" auth-passphrase = 'secret' name=\"a\"/>",
       "<device community=\"***\" auth-passphrase = '***' name=\"a\"/>"},
      // Longer names and texts that merely mention a name are not secrets.
      {"<community-name>lab</community-name><desc>community</desc>",
       "<community-name>lab</community-name><desc>community</desc>"},
      // A dump cut short still hides what it holds.
      {"<devices><device><community>publ", "<devices><device><community>***"},
      {"see https://user:pw@host:8443/p?x=1 and http://host/a@b",
       "see https://***@host:8443/p?x=1 and http://host/a@b"},
      {"<community>http://u:p@h/</community>", "<community>***</community>"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(redact_secrets(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace tamro
