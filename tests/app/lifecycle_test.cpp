#include <gtest/gtest.h>

#include <sys/socket.h>

#include <boost/filesystem.hpp>
#include <csignal>

#include "tests/app/agent_files.hpp"
#include "tests/support/child_process.hpp"

namespace tamro::test {
namespace {

using namespace std::chrono_literals;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct agent_run {
  agent_files files;
  std::unique_ptr<child_process> tamro;

  void start(const char* binary = TAMRO_BINARY) {
    files.write();
    tamro = std::make_unique<child_process>(
        std::vector<std::string>{binary, "-f", "-c", files.configuration_file()},
        files.home.file("out"), std::map<std::string, std::string>{{"TAMRO_TEST_TICK_MS", "100"}});
  }
  bool log_shows(const std::string& text, std::chrono::milliseconds limit = 10s) {
    return wait_until([&] { return contains(files.log(), text); }, limit);
  }
};

TEST(Lifecycle, ReloadsOnSighupAndStopsCleanlyOnSigterm) {
  agent_run run;
  run.start();
  ASSERT_TRUE(run.log_shows("MAC address 00:1A:2B:3C:4D:5E")) << run.tamro->output();

  run.tamro->signal(SIGHUP);
  ASSERT_TRUE(run.log_shows("--- waiting for all SNMP and HTTP requests to complete ---"));
  ASSERT_TRUE(run.log_shows("--- reloading configuration ---"));

  run.tamro->signal(SIGTERM);
  EXPECT_EQ(run.tamro->wait(20s), 0) << run.tamro->output();
  EXPECT_TRUE(contains(run.files.log(), "--- shutting down ---"));
}

TEST(Lifecycle, StopsOnSigintDuringTheFirstCycle) {
  agent_run run;
  run.start();
  ASSERT_TRUE(run.log_shows("MAC address"));
  run.tamro->signal(SIGINT);
  EXPECT_EQ(run.tamro->wait(20s), 0) << run.tamro->output();
}

TEST(Lifecycle, TicksRunTheStatusReporterAtOnce) {
  agent_run run;
  run.start(TAMRO_FAST_TICK_BINARY);
  // The server URL has no listener, so every tick retries and logs the failure.
  ASSERT_TRUE(run.log_shows("<status reporter> - while sending heartbeat to server: "))
      << run.files.log();
  ASSERT_TRUE(run.log_shows("--- timer event ---"));
  run.tamro->signal(SIGTERM);
  EXPECT_EQ(run.tamro->wait(20s), 0);
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t found = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

TEST(Reload, ABrokenFileKeepsTheRunningConfigurationAndTheNextGoodOneApplies) {
  agent_run run;
  run.files.mappings =
      "<mappings version=\"1.0\"><mapping><name>m</name><mappers/></mapping>"
      "</mappings>\n";
  // A device that never answers is polled again at every tick.
  run.files.devices = "<devices><device><ip-address>127.0.0.2</ip-address><udp-port>" +
                      std::to_string(free_port(SOCK_DGRAM)) +
                      "</udp-port><mapping-name>m</mapping-name>"
                      "<heartbeat-interval>1</heartbeat-interval></device></devices>\n";
  run.start(TAMRO_FAST_TICK_BINARY);
  ASSERT_TRUE(run.log_shows("127.0.0.2 - SNMP response error")) << run.files.log();
  const std::string unanswered = "127.0.0.2 - SNMP request sent";

  const std::string good = read_file(run.files.configuration_file());
  std::string broken = good;
  const auto uri = broken.find("<server-uri>");
  broken.erase(uri, broken.find("</server-uri>") + 13 - uri);
  write_file(run.files.configuration_file(), broken);
  run.tamro->signal(SIGHUP);
  ASSERT_TRUE(
      run.log_shows("[E] configuration: No such node (server-uri) - the running "
                    "configuration is kept; correct the file and reload again"))
      << run.files.log();
  const std::size_t polls = count(run.files.log(), unanswered);
  EXPECT_TRUE(wait_until([&] { return count(run.files.log(), unanswered) > polls; }, 10s))
      << "the device is no longer polled";
  EXPECT_TRUE(run.tamro->running());

  write_file(run.files.configuration_file(), good);
  run.tamro->signal(SIGHUP);
  ASSERT_TRUE(wait_until(
      [&] { return count(run.files.log(), "--- reloading configuration ---") == 2; }, 10s));
  run.tamro->signal(SIGTERM);
  EXPECT_EQ(run.tamro->wait(20s), 0) << run.tamro->output();
  EXPECT_EQ(count(run.files.log(), "the running configuration is kept"), 1u) << run.files.log();
}

// Each broken configuration stops the agent with "configuration: " and the reason.
struct broken_case {
  std::string reporting;
  std::string expected_error;
};

TEST(Configuration, ValidationMessagesStopTheStart) {
  const std::vector<broken_case> cases = {
      {"<ip-address>10.0.0.300</ip-address><mac-address>001A2B3C4D5E</mac-address>",
       "Error: configuration: invalid IP address 10.0.0.300\n"},
      {"<ip-address>10.0.0.1</ip-address><mac-address>00:1A:2B</mac-address>",
       "Error: configuration: invalid MAC address 00:1A:2B\n"},
      {"<ip-address>10.0.0.1</ip-address><mac-address>001A2B3C4D5E</mac-address>"
       "<heartbeat-interval>0</heartbeat-interval>",
       "Error: configuration: invalid heartbeat interval 0\n"},
      {"<ip-address>10.0.0.1</ip-address><mac-address>001A2B3C4D5E</mac-address>"
       "<heartbeat-interval>7201</heartbeat-interval>",
       "Error: configuration: invalid heartbeat interval 7201\n"},
  };
  for (const auto& c : cases) {
    agent_run run;
    run.files.reporting = c.reporting;
    run.start();
    EXPECT_EQ(run.tamro->wait(20s), 1);
    EXPECT_EQ(run.tamro->output(), c.expected_error);
    // The logging section was good: the reason is where the operator looks, too.
    const std::string message = c.expected_error.substr(7, c.expected_error.size() - 8);
    EXPECT_TRUE(contains(run.files.log(), "[E] " + message + "\n")) << run.files.log();
  }
}

TEST(Configuration, MissingSectionNamesThePath) {
  agent_files files;
  files.write();
  std::string text = read_file(files.configuration_file());
  const auto begin = text.find("<snmp>");
  text.erase(begin, text.find("</snmp>") + 7 - begin);
  write_file(files.configuration_file(), text);
  child_process tamro({TAMRO_BINARY, "-f", "-c", files.configuration_file()},
                      files.home.file("out"));
  EXPECT_EQ(tamro.wait(20s), 1);
  EXPECT_EQ(tamro.output(), "Error: configuration: No such node (snmp)\n");
  EXPECT_TRUE(contains(files.log(), "[E] configuration: No such node (snmp)\n")) << files.log();
}

// A run's part of the log file begins with the banner; the start's load lines follow it.
TEST(StartupLog, TheRunBeginsWithTheBannerAndTheLoadFollows) {
  agent_run run;
  write_file(run.files.log_file(), "a line of an earlier run\n");
  run.start();
  ASSERT_TRUE(run.log_shows("MAC address")) << run.tamro->output();
  run.tamro->signal(SIGTERM);
  EXPECT_EQ(run.tamro->wait(20s), 0) << run.tamro->output();
  const std::string log = run.files.log();
  const std::size_t second = log.find('\n') + 1;
  EXPECT_TRUE(contains(log.substr(second, log.find('\n', second) - second),
                       "[I] --- TAMRO v1.0.2.48224 started ---"))
      << log;
  EXPECT_EQ(count(log, "--- TAMRO v1.0.2.48224 started ---"), 1u) << log;
  for (const std::string& line :
       {"[D] loading mappings from " + run.files.home.file("mappings.xml"),
        "[D] loading agents from " + run.files.home.file("devices.xml")})
    EXPECT_TRUE(contains(log, line + "\n")) << line << "\n" << log;
}

TEST(Lifecycle, VerboseShowsTheBannerOnStandardOutput) {
  agent_run run;
  run.files.logging = "<level>error</level>";
  run.files.write();
  run.tamro = std::make_unique<child_process>(
      std::vector<std::string>{TAMRO_BINARY, "-f", "-v", "-c", run.files.configuration_file()},
      run.files.home.file("out"));
  ASSERT_TRUE(wait_until([&] { return contains(run.tamro->output(), "MAC address"); }, 10s));
  run.tamro->signal(SIGTERM);
  EXPECT_EQ(run.tamro->wait(20s), 0);
  const std::string out = run.tamro->output();
  EXPECT_TRUE(contains(out, "[I] --- TAMRO v1.0.2.48224 started ---")) << out;
  EXPECT_TRUE(contains(out, "[D] loading configuration from ")) << out;
}

TEST(Configuration, AcceptedFormsAreNormalisedAndLogged) {
  agent_run run;
  run.files.reporting =
      "<ip-address>255.255.255.255</ip-address><mac-address>00-1a-2b-3c-4d-5e</mac-address>"
      "<heartbeat-interval>abc</heartbeat-interval>";
  run.start();
  EXPECT_TRUE(run.log_shows("IP address 255.255.255.255"));
  EXPECT_TRUE(run.log_shows("MAC address 00:1A:2B:3C:4D:5E"));
  // A start goes past a value that does not convert, with one warning for it.
  EXPECT_EQ(
      count(run.files.log(), "[W] " + run.files.configuration_file() +
                                 ": reporting/heartbeat-interval: \"abc\" is not a whole number"),
      1u)
      << run.files.log();
  run.tamro->signal(SIGTERM);
  EXPECT_EQ(run.tamro->wait(20s), 0);
}

// One agent per home: a second start fails at once, naming the first, while the check and a
// single poll still run beside it; the lock goes with the process, however it ends.
TEST(Lifecycle, OneAgentPerHome) {
  agent_files files;
  files.write();
  boost::filesystem::create_directory(files.home.file("config"));
  const std::map<std::string, std::string> home{{"TAMRO_HOME", files.home.path()}};
  const auto tamro = [&](const std::string& mode, const std::string& output) {
    return std::make_unique<child_process>(
        std::vector<std::string>{TAMRO_BINARY, mode, "-v", "-c", files.configuration_file()},
        files.home.file(output), home);
  };
  const auto started = [](child_process& run) {
    return wait_until([&] { return contains(run.output(), "MAC address"); }, 10s);
  };
  auto first = tamro("-f", "first");
  ASSERT_TRUE(started(*first)) << first->output();

  const auto second = tamro("-f", "second");
  EXPECT_EQ(second->wait(20s), 1);
  EXPECT_TRUE(contains(second->output(), "Error: another TAMRO is running with this home (PID " +
                                             std::to_string(first->pid()) + ")\n"))
      << second->output();
  const auto check = tamro("--check", "check");
  EXPECT_EQ(check->wait(20s), 0) << check->output();
  const auto once = tamro("--once", "once");
  EXPECT_TRUE(once->wait(20s));  // with no device to poll, but it ran
  EXPECT_FALSE(contains(once->output(), "another TAMRO")) << once->output();

  first->kill();
  const auto third = tamro("-f", "third");
  ASSERT_TRUE(started(*third)) << third->output();
  third->signal(SIGTERM);
  EXPECT_EQ(third->wait(20s), 0) << third->output();
}

}  // namespace
}  // namespace tamro::test
