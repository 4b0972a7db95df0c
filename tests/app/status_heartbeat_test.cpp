// The agent binary posting its status heartbeat to the management-server simulator.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "tests/app/agent_files.hpp"
#include "tests/support/agent_support.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/snmpd.hpp"

namespace tamro::test {
namespace {

using namespace std::chrono_literals;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The status reporter never waits for its own exchange: a post still pending at the next tick
// is replaced. The tick is kept long enough for an exchange to finish on a slow (sanitizer) build.
struct status_run {
  agent_files files;
  temp_dir server_dir;
  management_server server{server_dir};
  std::unique_ptr<child_process> tamro;

  void start() {
    files.server_uri = server.url();
    files.write();
    tamro = std::make_unique<child_process>(
        std::vector<std::string>{TAMRO_FAST_TICK_BINARY, "-f", "-c", files.configuration_file()},
        files.home.file("out"), std::map<std::string, std::string>{{"TAMRO_TEST_TICK_MS", "500"}});
  }
  bool requests_reach(std::size_t count) {
    return wait_until([&] { return server.requests().size() >= count; }, 15s);
  }
  void stop() {
    tamro->signal(SIGTERM);
    EXPECT_EQ(tamro->wait(20s), 0) << tamro->output();
  }
};

TEST(StatusHeartbeat, FirstTickPostsTheRenderedTemplate) {
  status_run run;
  run.start();
  ASSERT_TRUE(run.requests_reach(1)) << run.files.log();
  const auto request = run.server.requests().front();
  EXPECT_EQ(request.request_line, "POST /heartbeat HTTP/1.0");
  const std::string body = "<heartbeat ip=\"127.0.0.1\" n=\"1\"/>\n";
  const std::vector<std::pair<std::string, std::string>> headers = {
      {"Host", "127.0.0.1:" + std::to_string(run.server.port())},
      {"Accept", "*/*"},
      {"Content-Length", std::to_string(body.size())},
      {"Content-Type", "application/xml; charset=\"utf-8\""},
      {"User-Agent", "klav-agent/1.0 (TAMRO)"},
      {"Connection", "close"}};
  EXPECT_EQ(request.headers, headers);
  EXPECT_EQ(request.body, body);
  run.stop();
}

TEST(StatusHeartbeat, ANewIntervalIsWrittenBackKeepingComments) {
  status_run run;
  run.server.script("{\"interval\": 1}");
  run.start();
  // Once the interval is 1 second the reporter posts again and again, counting its posts.
  ASSERT_TRUE(run.requests_reach(2)) << run.files.log();
  EXPECT_TRUE(contains(run.server.requests()[1].body, "n=\"2\""));
  ASSERT_TRUE(wait_until(
      [&] {
        return contains(read_file(run.files.configuration_file()),
                        "<heartbeat-interval>1</heartbeat-interval>");
      },
      10s));

  // An operator's edit since the load survives the next write-back and the reload after it.
  std::string edited = read_file(run.files.configuration_file());
  edited.insert(edited.find("</reporting>"), "<name>Edited by operator</name>");
  write_file(run.files.configuration_file(), edited);
  run.server.script("{\"interval\": 600}");
  ASSERT_TRUE(wait_until(
      [&] {
        return contains(read_file(run.files.configuration_file()),
                        "    <heartbeat-interval>600</heartbeat-interval>\n");
      },
      10s))
      << read_file(run.files.configuration_file());
  const std::string configuration = read_file(run.files.configuration_file());
  EXPECT_TRUE(contains(configuration, "<!-- kept across write-backs -->")) << configuration;
  EXPECT_TRUE(contains(configuration, "<?xml version=\"1.0\" encoding=\"utf-8\"?>"));
  EXPECT_TRUE(contains(configuration, "<name>Edited by operator</name>")) << configuration;
  run.tamro->signal(SIGHUP);
  ASSERT_TRUE(wait_until(
      [&] { return contains(run.files.log(), "--- reloading configuration ---"); }, 10s));
  EXPECT_TRUE(contains(read_file(run.files.configuration_file()), "Edited by operator"));
  run.stop();
}

// The operator finds in the log every change the server made to their files, with the file.
TEST(StatusHeartbeat, IntervalsTheServerWritesIntoTheFilesAreLogged) {
  snmpd device_agent;
  status_run run;
  run.files.mappings = "<mappings><mapping><name>m</name><mappers/></mapping></mappings>\n";
  run.files.devices = "<devices><device><ip-address>127.0.0.1</ip-address><udp-port>" +
                      std::to_string(device_agent.port()) +
                      "</udp-port><community>public</community><mapping-name>m</mapping-name>"
                      "<heartbeat-interval>1</heartbeat-interval></device></devices>\n";
  run.server.script("{\"interval\": 2}");
  run.start();
  for (const std::string& line :
       {"[I] heartbeat interval of 127.0.0.1 changed by the server: 1 -> 2 s (" +
            run.files.home.file("devices.xml") + ")\n",
        "[I] reporting/heartbeat-interval changed by the server: not set -> 2 s (" +
            run.files.configuration_file() + ")\n"})
    EXPECT_TRUE(wait_until([&] { return contains(run.files.log(), line); }, 15s))
        << line << run.files.log();
  run.stop();
  // Once each: later replies that repeat the interval change nothing.
  const std::string log = run.files.log();
  std::size_t lines = 0;
  for (auto at = log.find("changed by the server"); at != std::string::npos;
       at = log.find("changed by the server", at + 1))
    ++lines;
  EXPECT_EQ(lines, 2u) << log;
}

TEST(StatusHeartbeat, FailedExchangesAreLoggedAndRetriedAtTheNextTick) {
  struct failure {
    const char* script;
    const char* log_text;
  };
  for (const failure& f :
       {failure{"{\"status\": 404}", "[E] <status reporter> - while sending heartbeat to server: "},
        failure{"{\"misbehave\": \"zero-length\"}",
                "[W] <status reporter> - HTTP response without content received"}}) {
    status_run run;
    run.server.script(f.script);
    run.start();
    EXPECT_TRUE(run.requests_reach(3)) << f.script << "\n" << run.files.log();
    EXPECT_TRUE(contains(run.files.log(), f.log_text)) << run.files.log();
    run.stop();
  }
}

TEST(StatusHeartbeat, AMalformedReplyStillCountsAsDelivered) {
  status_run run;
  run.server.script("{\"misbehave\": \"malformed-xml\"}");
  run.start();
  ASSERT_TRUE(run.requests_reach(1));
  ASSERT_TRUE(wait_until(
      [&] {
        return contains(run.files.log(),
                        "[E] <status reporter> - while parsing KLAV server response XML: ");
      },
      10s));
  // The next heartbeat waits for the interval (300 s), not for the next tick.
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(run.server.requests().size(), 1u);
  run.stop();
}

}  // namespace
}  // namespace tamro::test
