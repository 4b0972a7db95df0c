// The agent binary keeps what opens the devices and the server out of what others may read:
// the log file, the check's and the single run's output.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>

#include "tests/app/agent_files.hpp"
#include "tests/support/agent_support.hpp"
#include "tests/support/child_process.hpp"

namespace tamro::test {
namespace {

using namespace std::chrono_literals;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every secret of these tests carries this mark, so that one search finds any of them.
const std::string mark = "S3cret";

std::string with_credentials(const management_server& server) {
  return "http://operator:url-" + mark + "@127.0.0.1:" + std::to_string(server.port()) +
         "/heartbeat?token=tok-" + mark;
}

TEST(Secrets, APushedListAtDebugLevelLeavesNoSecretInTheLogFile) {
  temp_dir server_dir;
  management_server server{server_dir};
  server.script(
      R"({"devices": "<devices><device><ip-address>127.0.0.1</ip-address><udp-port>9</udp-port>)"
      R"(<snmp-version>v2c</snmp-version><community>comm-)" +
      mark +
      R"(</community><mapping-name>system</mapping-name></device><device>)"
      R"(<ip-address>127.0.0.2</ip-address><udp-port>9</udp-port><snmp-version>v3</snmp-version>)"
      R"(<security-name>ops</security-name><security-level>authPriv</security-level>)"
      R"(<auth-protocol>SHA</auth-protocol><auth-passphrase>auth-)" +
      mark +
      R"(</auth-passphrase><privacy-protocol>AES</privacy-protocol><privacy-passphrase>priv-)" +
      mark + R"(</privacy-passphrase><mapping-name>system</mapping-name></device></devices>"})");
  agent_files files;
  files.server_uri = with_credentials(server);
  files.mappings =
      "<mappings><mapping><name>system</name><mappers><variable><name>SYS_NAME</name>"
      "<oid>.1.3.6.1.2.1.1.5.0</oid></variable></mappers></mapping></mappings>\n";
  files.write();
  child_process tamro({TAMRO_FAST_TICK_BINARY, "-f", "-c", files.configuration_file()},
                      files.home.file("out"), {{"TAMRO_TEST_TICK_MS", "200"}});
  ASSERT_TRUE(wait_until(
      [&] { return contains(read_file(files.home.file("devices.xml")), "priv-" + mark); }, 15s))
      << files.log();
  tamro.signal(SIGTERM);
  EXPECT_EQ(tamro.wait(20s), 0) << tamro.output();

  const std::string log = files.log();
  EXPECT_TRUE(contains(log, "<community>***</community>")) << "the reply is dumped: " << log;
  EXPECT_TRUE(contains(log, "<auth-passphrase>***</auth-passphrase>"));
  EXPECT_TRUE(contains(log, "<privacy-passphrase>***</privacy-passphrase>"));
  EXPECT_FALSE(contains(log, mark)) << log;
  EXPECT_FALSE(contains(tamro.output(), mark));
  // Readable by the agent's group, as its folder is; the saved list keeps what it needs.
  struct stat file {};
  ASSERT_EQ(::stat(files.log_file().c_str(), &file), 0);
  EXPECT_EQ(file.st_mode & 07777, 0640u);
  EXPECT_TRUE(contains(read_file(files.home.file("devices.xml")), "comm-" + mark));
  // The query is the server's: it is still sent.
  ASSERT_FALSE(server.requests().empty());
  EXPECT_EQ(server.requests()[0].request_line, "POST /heartbeat?token=tok-" + mark + " HTTP/1.0");
}

TEST(Secrets, TheCheckAndASingleRunNameTheServerWithoutItsCredentials) {
  temp_dir server_dir;
  management_server server{server_dir};
  server.script(R"({"status": 404})");
  agent_files files;
  files.server_uri = with_credentials(server);
  files.write();
  auto result = run_tamro(files, {"--once", "--post"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(contains(result.output,
                       "<status reporter>: heartbeat not delivered to http://"
                       "127.0.0.1:" +
                           std::to_string(server.port()) + "/heartbeat: "))
      << result.output;
  EXPECT_FALSE(contains(result.output, mark)) << result.output;
  EXPECT_FALSE(contains(files.log(), mark)) << files.log();

  struct refused {
    std::string server_uri;
    std::string message;
  };
  for (const refused& r : {
           refused{"ftp://operator:url-" + mark + "@127.0.0.1/x?token=tok-" + mark,
                   "agent/server-uri: \"ftp://127.0.0.1/x\" is not an http or https URL"},
           refused{"http://operator:url-" + mark + "@127.0.0.1:99999/x?token=tok-" + mark,
                   "invalid URL \"http://***@127.0.0.1:99999/x?***\": bad port"},
           // A local file would be read as the server's reply.
           refused{"file://" + files.home.file("reply.xml"),
                   "Error: configuration: invalid server-uri file://" +
                       files.home.file("reply.xml") +
                       " (heartbeats go to the management server by http:// or https://, never "
                       "to a file)"},
       }) {
    files.server_uri = r.server_uri;
    files.write();
    result = run_tamro(files, {"--check"});
    EXPECT_EQ(result.exit_code, 1) << r.server_uri;
    EXPECT_TRUE(contains(result.output, r.message)) << r.message << "\n" << result.output;
    EXPECT_FALSE(contains(result.output, mark)) << result.output;
  }
}

}  // namespace
}  // namespace tamro::test
