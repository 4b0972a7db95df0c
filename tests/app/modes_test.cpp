#include <gtest/gtest.h>

#include <sys/socket.h>

#include <boost/filesystem.hpp>
#include <functional>
#include <set>
#include <tuple>

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

const char* system_mapping =
    "<mappings version=\"1.0\"><mapping><name>system</name><mappers>"
    "<variable><name>SYS_NAME</name><oid>.1.3.6.1.2.1.1.5.0</oid></variable>"
    "</mappers></mapping></mappings>\n";

std::string device(const std::string& address, unsigned short port,
                   const std::string& mapping = "system") {
  return "<device><ip-address>" + address + "</ip-address><udp-port>" + std::to_string(port) +
         "</udp-port><community>public</community><snmp-version>v2c</snmp-version>"
         "<mapping-name>" +
         mapping + "</mapping-name></device>";
}

TEST(CheckMode, GoodFilesPassWithoutTouchingAnything) {
  agent_files files;
  files.mappings = system_mapping;
  files.devices = "<devices>" + device("127.0.0.1", 1161) + "</devices>\n";
  files.write();
  const std::string configuration = read_file(files.configuration_file());

  const auto listing = [&] {
    std::set<std::string> names;
    for (const auto& entry : boost::filesystem::recursive_directory_iterator(files.home.path()))
      names.insert(entry.path().filename().string());
    return names;
  };
  auto before = listing();
  before.insert("out");  // the test's record of the run's output

  const auto result = run_tamro(files, {"--check"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_TRUE(contains(result.output, "is OK: 1 mappings, 1 devices")) << result.output;
  // Not even the SNMP library's persistent files, in the folder the configuration names.
  EXPECT_EQ(listing(), before);
  EXPECT_EQ(read_file(files.configuration_file()), configuration);
}

TEST(CheckMode, EveryBrokenItemIsReported) {
  agent_files files;
  files.mappings =
      "<mappings version=\"1.0\"><mapping><name>system</name><mappers/></mapping>"
      "<mapping><name>broken</name><mappers><variable><name>X</name><oid>.1.3</oid>"
      "<transformation>bogus</transformation></variable></mappers></mapping></mappings>\n";
  files.devices = "<devices>" + device("127.0.0.1", 1161, "missing") + device("10.0.0.300", 161) +
                  device("127.0.0.2", 161) + "</devices>\n";
  files.write();

  const auto result = run_tamro(files, {"-t"});
  EXPECT_EQ(result.exit_code, 1);
  // Once each, the transformation with its file, mapping and variable; no log prefixes.
  for (const std::string& line :
       {"\nError while parsing mapping node: " + files.home.file("mappings.xml") +
            ": mapping broken: variable X: unknown transformation: bogus\n",
        std::string("\nError while parsing device node: item missing not found\n"),
        std::string("\nError while parsing device node: invalid agent IP address: 10.0.0.300\n"),
        std::string("\n3 problem(s) found in ")}) {
    EXPECT_TRUE(contains("\n" + result.output, line)) << line << "\n" << result.output;
  }
  EXPECT_EQ(result.output.find("unknown transformation"),
            result.output.rfind("unknown transformation"));
}

// Each typo that a start reads leniently or ignores is one problem for the check, named with
// its file (and line, for XML errors), key, text and what a start would use instead.
TEST(CheckMode, TyposThatAStartGoesPastAreProblems) {
  struct typo {
    std::function<void(agent_files&)> make;
    std::string expected;
  };
  const std::vector<typo> typos = {
      {[](agent_files& f) { f.logging = "<level>info</levle>"; },
       "configuration.xml(4): end tag </levle> does not match the start tag <level>"},
      {[](agent_files&) {}, ""},  // with <junk/> after the root's end, below
      {[](agent_files& f) { f.logging = "<levle>info</levle>"; },
       "configuration.xml: logging/levle: unknown element, ignored"},
      {[](agent_files& f) { f.logging = "<level>inof</level>"; },
       "logging/level: \"inof\" is not a level (off, debug, info, warning, error or a number); "
       "a start uses warning"},
      {[](agent_files& f) { f.snmp = "<timeout>5s</timeout>"; },
       "snmp/timeout: \"5s\" is not a whole number; a start uses the value in force (5 at "
       "start)"},
      {[](agent_files& f) { f.logging = "<rotate>yes</rotate>"; },
       "logging/rotate: \"yes\" is not true, false, 1 or 0; a start uses false"},
      {[](agent_files& f) { f.server_uri = "ftp://127.0.0.1/heartbeat"; },
       "agent/server-uri: \"ftp://127.0.0.1/heartbeat\" is not an http or https URL"},
      {[](agent_files& f) {
         f.mappings = system_mapping;
         f.devices = "<devices>" + device("127.0.0.1", 0) + "</devices>";
         f.devices.replace(f.devices.find(">0<"), 3, ">99999<");
       },
       "devices.xml: device 127.0.0.1: udp-port: \"99999\" is not a port number (0 to 65535); "
       "a start uses 161"},
      {[](agent_files& f) {
         f.mappings =
             "<mappings><mapping><name>m</name><mappers><variable><name>U</name>"
             "<oid>SNMPv2-MIB::sysUpTime.0</oid></variable></mappers></mapping>"
             "</mappings>";
       },
       "mappings.xml: mapping m: mappers/variable/oid: \"SNMPv2-MIB::sysUpTime.0\" is not a "
       "numeric OID"},
  };
  for (const typo& t : typos) {
    agent_files files;
    t.make(files);
    files.write();
    if (t.expected.empty()) {  // an element after the root's end
      std::string text = read_file(files.configuration_file());
      text.insert(text.rfind("</tamro-configuration>") + 22, "<junk/>");
      write_file(files.configuration_file(), text);
    }
    const auto result = run_tamro(files, {"--check"});
    EXPECT_EQ(result.exit_code, 1) << result.output;
    const std::string expected =
        t.expected.empty() ? "element <junk> after the end of the root element" : t.expected;
    EXPECT_TRUE(contains(result.output, expected)) << expected << "\n" << result.output;
    EXPECT_TRUE(contains(result.output, "1 problem(s) found in ")) << result.output;
  }

  agent_files unwritable_log;
  unwritable_log.write();
  std::string text = read_file(unwritable_log.configuration_file());
  text.replace(text.find(unwritable_log.log_file()), unwritable_log.log_file().size(),
               "/nonexistent-folder/tamro.log");
  write_file(unwritable_log.configuration_file(), text);
  const auto result = run_tamro(unwritable_log, {"--check"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(contains(result.output,
                       "logging/file: /nonexistent-folder/tamro.log cannot be written "
                       "(/nonexistent-folder: No such file or directory)"))
      << result.output;
}

// What a start silently reads another way than the operator meant, or leaves unused: each is
// one problem for the check, named with its file and key.
TEST(CheckMode, WhatAStartReadsOtherwiseOrIgnoresIsAProblem) {
  struct mistake {
    std::function<void(agent_files&)> make;
    std::function<void(const agent_files&)> after_write;  // edits of the written files
    std::string expected;
  };
  // The written configuration names, as its log file, what path() gives for the files.
  const auto log_file_becomes = [](std::function<std::string(const agent_files&)> path) {
    return [path](const agent_files& f) {
      std::string text = read_file(f.configuration_file());
      text.replace(text.find(f.log_file()), f.log_file().size(), path(f));
      write_file(f.configuration_file(), text);
    };
  };
  const std::vector<mistake> mistakes = {
      {[](agent_files& f) { f.agent_extra = "<server-uri>http://127.0.0.1:10/x</server-uri>"; },
       nullptr, "configuration.xml: agent/server-uri: given 2 times; a start reads only the first"},
      {[](agent_files& f) {
         f.snmp = "<timeout>1</timeout><mib-directory>" + f.home.path() + "</mib-directory>" +
                  "<persistent-directory>" + f.home.path() + "</persistent-directory></snmp><snmp>";
       },
       nullptr, "configuration.xml: snmp: given 2 times; a start reads only the first"},
      {[](agent_files& f) {
         f.reporting += "<heartbeat-interval>99999999999</heartbeat-interval>";
       },
       nullptr,
       "reporting/heartbeat-interval: \"99999999999\" is not a 32-bit number (at most "
       "2147483647); a start uses the value in force (300 at start)"},
      {[](agent_files& f) {
         f.mappings = system_mapping;
         f.devices = "<devices>" + device("127.0.0.1", 161) + "</devices>";
         f.devices.replace(f.devices.find(">public<"), 8, ">\n  public\n<");
       },
       nullptr,
       "devices.xml: device 127.0.0.1: community: \"\\n  public\\n\" has blanks or line "
       "breaks around it, which a start keeps"},
      {[](agent_files& f) { f.server_uri = "http:///heartbeat"; }, nullptr,
       "agent/server-uri: \"http:///heartbeat\" names no host; no heartbeat would be delivered"},
      {[](agent_files&) {},
       [](const agent_files& f) { write_file(f.home.file("heartbeat.xml"), "\n"); },
       "/heartbeat.xml is empty; no heartbeat would be sent"},
      {[](agent_files&) {}, log_file_becomes([](const agent_files&) { return ""; }),
       "configuration.xml: logging/file: is empty; nothing would be logged there"},
      {[](agent_files&) {}, log_file_becomes([](const agent_files& f) { return f.home.path(); }),
       " is a folder; nothing would be logged there"},
  };
  for (const mistake& m : mistakes) {
    agent_files files;
    m.make(files);
    files.write();
    if (m.after_write) m.after_write(files);
    const auto result = run_tamro(files, {"--check"});
    EXPECT_EQ(result.exit_code, 1) << result.output;
    EXPECT_TRUE(contains(result.output, m.expected)) << m.expected << "\n" << result.output;
    EXPECT_TRUE(contains(result.output, "\n1 problem(s) found in ")) << result.output;
  }
}

// Comments and processing instructions are notes: a load and the check skip them anywhere.
TEST(CheckMode, CommentsAnywhereAreHarmless) {
  agent_files files;
  files.logging += "<!-- the level above -->";
  files.snmp += "<?some-instruction?>";
  files.mappings =
      "<?xml version=\"1.0\"?><!-- top --><mappings version=\"1.0\"><!-- under the root -->"
      "<mapping><!-- in a mapping --><name>system</name><mappers><!-- among the mappers -->"
      "<variable><name>SYS_NAME</name><!-- in a variable --><oid>.1.3.6.1.2.1.1.5.0</oid>"
      "</variable><table><name>T</name><!-- in a table --><column><name>C</name>"
      "<oid>.1.3.6.1.2.1.2.2.1.2</oid><!-- in a column --></column></table><?pi?></mappers>"
      "</mapping></mappings>\n";
  files.devices = "<devices><!-- under the root --><?pi?>" + device("127.0.0.1", 1161) +
                  "<!-- between devices --></devices>\n";
  files.devices.insert(files.devices.find("<community>"), "<!-- in a device -->");
  files.write();
  const auto result = run_tamro(files, {"--check"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_TRUE(contains(result.output, "is OK: 1 mappings, 1 devices")) << result.output;
}

// A comment whose end was mistyped would swallow what follows up to the next comment's end:
// an XML error with the file and the line, not a missing element further on.
TEST(CheckMode, AMistypedCommentEndIsAnXmlErrorWithItsLine) {
  agent_files files;
  files.comment = "<!-- note ->\n  <logging><level>debug</level></logging><!-- another -->";
  files.write();
  const auto result = run_tamro(files, {"--check"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(contains(result.output, "Error: configuration: " + files.configuration_file() +
                                          "(3): comment not closed: another comment starts "
                                          "inside it"))
      << result.output;
}

// The package's placeholder server is said, as a warning: the check still passes, so the
// installed files pass the unit's check before their first start.
TEST(CheckMode, ThePackagesPlaceholderServerIsAWarning) {
  agent_files files;
  files.server_uri = "https://management-server.invalid/heartbeat";
  files.write();
  const auto result = run_tamro(files, {"--check"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_TRUE(contains(result.output, "warning: " + files.configuration_file() +
                                          ": agent/server-uri: "
                                          "https://management-server.invalid/heartbeat is a "
                                          "placeholder"))
      << result.output;
  EXPECT_TRUE(contains(result.output, "is OK")) << result.output;
}

TEST(CheckMode, ATemplateThatDoesNotLoadStopsTheCheck) {
  agent_files files;
  files.agent_extra = "";
  files.write();
  boost::filesystem::remove(files.home.file("heartbeat.xml"));
  const auto result = run_tamro(files, {"--check"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(contains(result.output, "Error: configuration: unable to load and parse template"))
      << result.output;
}

// IPv6 addresses are taken in any standard form; what is not one is refused as an IPv4
// typo is.
TEST(Ipv6, TheCheckTakesIpv6AddressesAndRefusesMalformedOnes) {
  agent_files files;
  files.agent_extra = "<metrics-listen>[::1]:9117</metrics-listen>";
  files.reporting =
      "<ip-address>2001:DB8::5</ip-address><mac-address>00:1A:2B:3C:4D:5E</mac-address>";
  files.mappings = system_mapping;
  files.devices = "<devices>" + device("2001:DB8:0::1", 161) + device("::1", 1161) +
                  device("2001:db8::g", 161) + "</devices>";
  files.write();
  auto result = run_tamro(files, {"--check"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(contains(result.output,
                       "Error while parsing device node: invalid agent IP "
                       "address: 2001:db8::g\n"))
      << result.output;
  EXPECT_TRUE(contains(result.output, "1 problem(s) found")) << result.output;

  for (const auto& [extra, reporting, error] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {"<metrics-listen>::1:9117</metrics-listen>", files.reporting,
            "invalid metrics-listen ::1:9117 "},
           {"", "<ip-address>fe80::1%eth0</ip-address>", "invalid IP address fe80::1%eth0\n"}}) {
    files.agent_extra = extra;
    files.reporting = reporting;
    files.write();
    result = run_tamro(files, {"--check"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_TRUE(contains(result.output, "Error: configuration: " + error)) << result.output;
  }
}

TEST(OnceMode, PrintsEveryHeartbeatAndTellsWhetherEveryDeviceAnswered) {
  snmpd device_agent;
  agent_files files;
  files.mappings = system_mapping;
  files.devices = "<devices>" + device("127.0.0.1", device_agent.port()) + "</devices>\n";
  files.write();

  const auto answered = run_tamro(files, {"--once"});
  EXPECT_EQ(answered.exit_code, 0) << answered.output;
  EXPECT_TRUE(contains(answered.output, "<!-- heartbeat of 127.0.0.1 -->")) << answered.output;
  EXPECT_TRUE(contains(answered.output, "<!-- heartbeat of <status reporter> -->"));
  EXPECT_TRUE(contains(answered.output, "1 of 1 devices answered, 2 of 2 heartbeats printed\n"));

  // A second device whose port has no listener: the run still ends, with exit code 1.
  files.devices = "<devices>" + device("127.0.0.1", device_agent.port()) +
                  device("127.0.0.2", free_port(SOCK_DGRAM)) + "</devices>\n";
  files.snmp = "<timeout>1</timeout><retries>0</retries>";
  files.write();
  const auto silent = run_tamro(files, {"--once"});
  EXPECT_EQ(silent.exit_code, 1) << silent.output;
  EXPECT_TRUE(contains(silent.output, "1 of 2 devices answered, 2 of 3 heartbeats printed\n"))
      << silent.output;
  EXPECT_TRUE(contains(silent.output, "127.0.0.2: SNMP request failed: Timeout")) << silent.output;
}

TEST(OnceMode, EveryUndeliveredHeartbeatAndDroppedDeviceFailsTheRunWithItsReason) {
  snmpd device_agent;
  temp_dir server_dir;
  management_server server{server_dir};
  agent_files files;
  files.mappings = system_mapping;
  files.devices = "<devices>" + device("127.0.0.1", device_agent.port()) + "</devices>\n";
  files.server_uri = server.url();
  files.agent_extra = "<http-timeout>1</http-timeout>";
  files.write();
  // The replies are shown, not applied: the files stay as the operator left them.
  server.script(R"({"interval": 60, "devices": "<devices/>"})");
  const std::string devices_file = read_file(files.home.file("devices.xml"));
  const auto delivered = run_tamro(files, {"--once", "--post"});
  EXPECT_EQ(delivered.exit_code, 0) << delivered.output;
  EXPECT_TRUE(contains(delivered.output, "<!-- reply to 127.0.0.1 -->")) << delivered.output;
  EXPECT_TRUE(contains(delivered.output, "1 of 1 devices answered, 2 of 2 heartbeats delivered\n"));
  EXPECT_EQ(read_file(files.home.file("devices.xml")), devices_file);
  EXPECT_FALSE(contains(read_file(files.configuration_file()), "heartbeat-interval"));

  // A server that takes the posts and never answers: the device did answer.
  server.script(R"({"misbehave": "silent"})");
  const auto frozen = run_tamro(files, {"--once", "--post"});
  EXPECT_EQ(frozen.exit_code, 1);
  EXPECT_TRUE(contains(frozen.output, "1 of 1 devices answered, 0 of 2 heartbeats delivered\n"))
      << frozen.output;

  // Nothing listens on the port; then TLS to the plain server. The reason says what to fix.
  const std::string plain = "127.0.0.1:" + std::to_string(server.port());
  const std::vector<std::pair<std::string, std::string>> failures = {
      {"http://127.0.0.1:9/heartbeat",
       "Connection refused (nothing listens on 127.0.0.1:9: check the host and port of "
       "server-uri)"},
      {"https://" + plain + "/heartbeat",
       "wrong version number (" + plain +
           " does not answer in TLS: if it is a plain HTTP server, server-uri must start with "
           "http://)"}};
  for (const auto& [uri, reason] : failures) {
    files.server_uri = uri;
    files.write();
    const auto failed = run_tamro(files, {"--once", "--post"});
    EXPECT_EQ(failed.exit_code, 1) << failed.output;
    for (const std::string name : {"127.0.0.1", "<status reporter>"})
      EXPECT_TRUE(contains(failed.output,
                           name + ": heartbeat not delivered to " + uri + ": " + reason + "\n"))
          << failed.output;
  }

  files.devices = "<devices>" + device("10.0.0.300", 161) + "</devices>\n";
  files.write();
  const auto dropped = run_tamro(files, {"--once"});
  EXPECT_EQ(dropped.exit_code, 1);
  for (const char* line : {"devices.xml: device not polled: invalid agent IP address: 10.0.0.300\n",
                           "0 of 0 devices answered, 1 of 1 heartbeats printed\n",
                           "Error: no device to poll: every device of "})
    EXPECT_TRUE(contains(dropped.output, line)) << line << "\n" << dropped.output;

  files.devices = "<devices/>\n";
  files.write();
  const auto none = run_tamro(files, {"--once"});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_TRUE(contains(none.output, "devices.xml lists none\n")) << none.output;
}

// Standard output as a reader takes it apart: one document per heartbeat, split at the NUL
// that ends each; everything else on standard error; the service's log file left alone.
TEST(OnceMode, EachHeartbeatIsAWellFormedDocumentOfItsOwnAndNothingElseIsOnStandardOutput) {
  snmpd device_agent;
  agent_files files;
  files.mappings = system_mapping;
  files.devices = "<devices>" + device("127.0.0.1", device_agent.port()) + "</devices>\n";
  files.write();
  const std::string declaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
  write_file(files.home.file("heartbeat.xml"),
             declaration + "\n<heartbeat ip=\"{{IP_ADDRESS:xml_escape}}\"/>\n");
  const std::string errors = files.home.file("errors");
  child_process tamro({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>\"" + errors + "\"", TAMRO_BINARY,
                       "-c", files.configuration_file(), "--once", "-v"},
                      files.home.file("out"));
  ASSERT_EQ(tamro.wait(60s), 0) << tamro.output() << read_file(errors);
  const std::string out = tamro.output();

  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), '\0') << "the last document ends like the others";
  std::vector<std::string> documents;
  for (std::size_t start = 0, end; (end = out.find('\0', start)) != std::string::npos;
       start = end + 1)
    documents.push_back(out.substr(start, end - start));
  ASSERT_EQ(documents.size(), 2u) << out;
  std::set<std::string> names;
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const std::string& document = documents[i];
    SCOPED_TRACE(document);
    ASSERT_EQ(document.rfind(declaration + "\n<!-- heartbeat of ", 0), 0u);
    names.insert(document.substr(declaration.size() + 1,
                                 document.find(" -->") + 4 - declaration.size() - 1));
    EXPECT_FALSE(contains(document, "[D]")) << "log lines go to standard error";
    if (!std::string(TAMRO_XMLLINT).empty()) {
      const std::string file = files.home.file("document" + std::to_string(i));
      write_file(file, document);
      child_process lint({TAMRO_XMLLINT, "--noout", file}, file + ".lint");
      EXPECT_EQ(lint.wait(30s), 0) << lint.output();
    }
  }
  EXPECT_EQ(names, (std::set<std::string>{"<!-- heartbeat of 127.0.0.1 -->",
                                          "<!-- heartbeat of <status reporter> -->"}));
  const std::string stderr_text = read_file(errors);
  EXPECT_TRUE(contains(stderr_text, "[D] 127.0.0.1 - SNMP request sent")) << stderr_text;
  EXPECT_TRUE(contains(stderr_text, "1 of 1 devices answered, 2 of 2 heartbeats printed\n"));
  EXPECT_FALSE(boost::filesystem::exists(files.log_file())) << files.log();
}

}  // namespace
}  // namespace tamro::test
