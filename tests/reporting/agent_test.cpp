#include <gtest/gtest.h>

#include <ctemplate/template.h>
#include <openssl/x509_vfy.h>
#include <algorithm>
#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/property_tree/ptree.hpp>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/configuration_error.hpp"
#include "reporting/agent.hpp"
#include "reporting/agent_statistics.hpp"
#include "reporting/heartbeat_posting.hpp"
#include "reporting/http_error.hpp"
#include "reporting/posting_settings.hpp"
#include "reporting/schedule_clock.hpp"
#include "reporting/transcript_sender.hpp"
#include "reporting/x509_error.hpp"
#include "tests/support/agent_support.hpp"

namespace tamro {
namespace {

using boost::property_tree::ptree;
using namespace std::chrono_literals;

class test_agent : public agent {
 public:
  test_agent(boost::asio::io_context& io, heartbeat_poster& poster) : agent(io, poster) {}
  void start_heartbeat() override { send_heartbeat(); }
  std::string name() const override { return "<test agent>"; }
  void on_reply(const ptree&) override { ++replies; }

  int replies = 0;
  bool waits_its_turn = true;

 protected:
  std::unique_ptr<ctemplate::TemplateDictionary> make_heartbeat() override {
    auto dictionary = std::make_unique<ctemplate::TemplateDictionary>("heartbeat");
    dictionary->SetValue("NAME", "a&b");
    return dictionary;
  }
  bool waits_for_post_slot() const override { return waits_its_turn; }
};

const char* const test_template =
    "<?xml version=\"1.0\"?>\n"
    "<hb counter=\"{{HEARTBEAT_COUNTER}}\">\n"
    "\n"
    "  <name>{{NAME:xml_escape}}</name>\n"
    "</hb>\n";

std::string rendered(int counter) {
  return "<?xml version=\"1.0\"?>\n<hb counter=\"" + std::to_string(counter) +
         "\">\n  <name>a&amp;b</name>\n</hb>\n";
}

const std::string send_error = "<test agent> - while sending heartbeat to server: ";

struct AgentTest : ::testing::Test {
  test::temp_dir dir;
  boost::asio::io_context io;
  heartbeat_posting posting{io};
  test_agent target{io, posting.poster()};
  test::captured_log log;

  void configure(const std::string& server_uri, const ptree& extra = {}) {
    test::write_file(dir.file("heartbeat.xml"), test_template);
    ptree section = extra;
    section.put("heartbeat-template", dir.file("heartbeat.xml"));
    section.put("server-uri", server_uri);
    if (!section.get_optional<std::string>("http-timeout")) section.put("http-timeout", "5");
    posting.configure(read_posting_settings(section));
  }

  // One reporting cycle as the scheduler runs it, until nothing is left to do.
  void run_cycle() {
    target.cycle_start = boost::posix_time::second_clock::universal_time();
    target.start_heartbeat();
    run();
  }

  void run() {
    io.restart();
    io.run_for(15s);
    ASSERT_TRUE(io.stopped()) << "the exchange did not finish";
  }

  // Connections kept, by the agent and by the server, with these further keys.
  ptree configure_kept(const test::management_server& server, ptree extra = {}) {
    extra.put("persistent-connections", "true");
    configure(server.url(), extra);
    server.script(R"({"keep_alive": true})");
    return extra;
  }

  // A cycle whose connection may stay open: runs until the agent is idle again.
  void run_kept_cycle() {
    target.cycle_start = boost::posix_time::second_clock::universal_time();
    target.last_delivered = boost::posix_time::not_a_date_time;
    target.start_heartbeat();
    io.restart();
    for (int turn = 0; turn < 150 && target.busy(); ++turn) io.run_one_for(100ms);
    ASSERT_FALSE(target.busy()) << "the exchange did not finish";
  }
};

std::vector<int> connections_of(const std::vector<test::recorded_request>& requests) {
  std::vector<int> numbers;
  for (const auto& request : requests) numbers.push_back(request.connection);
  return numbers;
}

TEST_F(AgentTest, PostCarriesTheRenderedHeartbeatAndTheReplyIsApplied) {
  test::management_server server(dir);
  ptree extra;
  extra.put("user-agent", "probe/2.0");
  configure(server.url("/klav/heartbeat?site=1"), extra);
  server.script(R"({"interval": 600, "statistics": [{"id": "up", "oid": "1.3.6.1.2.1.1.3.0"}]})");
  run_cycle();

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.request_line, "POST /klav/heartbeat?site=1 HTTP/1.0");
  const std::string body = rendered(1);
  const decltype(request.headers) expected = {
      {"Host", "127.0.0.1:" + std::to_string(server.port())},
      {"Accept", "*/*"},
      {"Content-Length", std::to_string(body.size())},
      {"Content-Type", "application/xml; charset=\"utf-8\""},
      {"User-Agent", "probe/2.0"},
      {"Connection", "close"}};
  EXPECT_EQ(request.headers, expected);
  EXPECT_EQ(request.body, body);

  EXPECT_FALSE(target.busy());
  EXPECT_EQ(target.last_delivered, target.cycle_start);
  EXPECT_FALSE(target.is_due());
  EXPECT_EQ(target.replies, 1);
  EXPECT_EQ(target.interval, boost::posix_time::seconds(600));
  EXPECT_TRUE(target.interval_changed);
  ASSERT_EQ(target.requested_statistics.size(), 1u);
  EXPECT_EQ(target.requested_statistics[0].id, "up");

  EXPECT_TRUE(log.has('D', "<test agent> - HTTP POST request sent"));
  EXPECT_TRUE(log.has('D', "<test agent> - HTTP response content type application/xml"));
  EXPECT_TRUE(log.has_prefix('D', "<test agent> - HTTP response content length "));
  EXPECT_TRUE(log.has_prefix('D', "<test agent> - HTTP response received ("));
  EXPECT_TRUE(log.has_prefix('D', "<?xml version=\"1.0\" encoding=\"utf-8\"?>\\n<heartbeat-reply>"))
      << "the reply body is dumped at debug level";
  EXPECT_EQ(log.count('E') + log.count('W'), 0) << log.text();

  // Each post counts; the default user agent applies when the section has none.
  configure(server.url());
  target.last_delivered = boost::posix_time::not_a_date_time;
  run_cycle();
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(server.requests()[1].body, rendered(2));
  EXPECT_EQ(server.requests()[1].headers[4],
            std::make_pair(std::string("User-Agent"), std::string("klav-agent/1.0 (TAMRO)")));
  EXPECT_EQ(target.heartbeat_counter(), 2);
}

TEST_F(AgentTest, FailedExchangesLeaveTheAgentIdleAndDue) {
  test::management_server server(dir);
  test::write_file(dir.file("reply.xml"), "<heartbeat-reply/>");
  // The hint names the address that refused: where the server redirected to.
  const std::string closed = "127.0.0.1:" + std::to_string(test::free_port(SOCK_STREAM));
  struct failure {
    std::string uri, script;
    char level;
    std::string message;
  };
  // Each line differs from the one before: a line repeated is held back (see below).
  const failure failures[] = {
      {server.url(), R"({"status": 404})", 'E',
       send_error + http::make_status_error(404).message()},
      {server.url(), R"({"status": 302, "location": "http://)" + closed + R"(/elsewhere"})", 'E',
       send_error + boost::system::error_code(boost::asio::error::connection_refused).message() +
           " (nothing listens on " + closed +
           ": check the host and port of the redirect from server-uri)"},
      {server.url(), R"({"misbehave": "no-content-length"})", 'W',
       "<test agent> - HTTP response without content received"},
      {"gopher://127.0.0.1/", "{}", 'E',
       send_error +
           boost::system::error_code(boost::asio::error::operation_not_supported).message()},
      {server.url(), R"({"misbehave": "short-body"})", 'E',
       send_error + boost::system::error_code(boost::asio::error::eof).message()},
      {server.url(), R"({"misbehave": "zero-length"})", 'W',
       "<test agent> - HTTP response without content received"},
      // A local file is not read as the server's reply.
      {"file://" + dir.file("reply.xml"), "{}", 'E',
       send_error +
           boost::system::error_code(boost::asio::error::operation_not_supported).message()},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.script + " " + f.uri);
    configure(f.uri);
    server.script(f.script);
    const int before = log.count(f.level);
    run_cycle();
    EXPECT_TRUE(log.has(f.level, f.message)) << log.text();
    EXPECT_EQ(log.count(f.level), before + 1);
    EXPECT_FALSE(target.busy());
    EXPECT_TRUE(target.last_delivered.is_not_a_date_time());
    EXPECT_TRUE(target.is_due());
  }
  EXPECT_EQ(target.replies, 0);

  // The cut reply left bytes behind; the next reply must parse on its own.
  configure(server.url());
  server.script(
      R"({"misbehave": "short-body", "body": "<heartbeat-reply><heartbeat-interval>900"})");
  run_cycle();
  server.script(R"({"interval": 60})");
  run_cycle();
  EXPECT_EQ(target.replies, 1);
  EXPECT_EQ(target.interval, boost::posix_time::seconds(60));
  EXPECT_FALSE(log.has_prefix('E', "<test agent> - while parsing KLAV server response XML"));
}

TEST_F(AgentTest, MalformedReplyStillCountsAsDelivered) {
  test::management_server server(dir);
  configure(server.url());
  server.script(R"({"misbehave": "malformed-xml"})");
  run_cycle();
  EXPECT_TRUE(log.has_prefix('E', "<test agent> - while parsing KLAV server response XML: "));
  EXPECT_EQ(target.last_delivered, target.cycle_start);
  EXPECT_FALSE(target.is_due());
  EXPECT_EQ(target.replies, 0);
}

TEST_F(AgentTest, SilentServerEndsTheExchangeAtTheTimeout) {
  test::management_server server(dir);
  ptree extra;
  extra.put("http-timeout", "1");
  configure(server.url(), extra);
  server.script(R"({"misbehave": "silent"})");
  const auto start = std::chrono::steady_clock::now();
  run_cycle();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  EXPECT_TRUE(log.has('E', send_error +
                               boost::system::error_code(boost::asio::error::timed_out).message() +
                               " (127.0.0.1:" + std::to_string(server.port()) +
                               " did not answer within agent/http-timeout)"))
      << log.text();
  EXPECT_FALSE(target.busy());
  EXPECT_TRUE(target.is_due());
}

TEST_F(AgentTest, AReplySlowerThanATickIsReadAndApplied) {
  test::management_server server(dir);
  configure(server.url());
  server.script(R"({"delay": 1, "interval": 600})");
  target.cycle_start = boost::posix_time::second_clock::universal_time();
  target.start_heartbeat();
  EXPECT_EQ(target.phase(), cycle_phase::posting);
  EXPECT_TRUE(target.busy()) << "busy while its post is in flight, so the tick starts no other";
  run();
  EXPECT_FALSE(target.busy());
  EXPECT_EQ(target.replies, 1);
  EXPECT_EQ(target.interval, boost::posix_time::seconds(600));
  EXPECT_EQ(target.last_delivered, target.cycle_start);
  EXPECT_EQ(log.count('E'), 0) << log.text();
}

TEST_F(AgentTest, ConfigurationErrorsNameTheCause) {
  test::write_file(dir.file("heartbeat.xml"), test_template);
  const auto section = [&](const std::string& key, const std::string& value) {
    ptree s;
    s.put("heartbeat-template", dir.file("heartbeat.xml"));
    s.put("server-uri", "http://127.0.0.1:1/");
    if (value.empty()) {
      s.erase(key);
    } else {
      s.put(key, value);
    }
    return s;
  };
  const auto message = [](const ptree& s) -> std::string {
    try {
      read_posting_settings(s);
    } catch (const configuration_error& e) {
      return std::string("configuration_error: ") + e.what();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "accepted";
  };
  EXPECT_EQ(message(section("server-uri", "")), "configuration_error: No such node (server-uri)");
  EXPECT_EQ(message(section("heartbeat-template", "")),
            "configuration_error: No such node (heartbeat-template)");
  EXPECT_NE(message(section("server-uri", "no url")).find("configuration_error: "),
            std::string::npos);
  EXPECT_EQ(message(section("heartbeat-template", dir.file("absent.xml"))),
            "unable to load and parse template file " + dir.file("absent.xml"));
  EXPECT_EQ(message(section("http-timeout", "0")), "configuration_error: invalid http-timeout 0");
  EXPECT_EQ(message(section("http-timeout", "soon")),
            "configuration_error: invalid http-timeout soon");
  EXPECT_EQ(message(section("ignore-cert-hostname", "maybe")), "accepted");
  for (const char* count : {"0", "1025", "many"})
    EXPECT_EQ(message(section("max-concurrent-posts", count)),
              std::string("configuration_error: invalid max-concurrent-posts ") + count);
  EXPECT_EQ(message(section("max-concurrent-posts", "1024")), "accepted");
  for (const char* seconds : {"0", "3601", "soon"})
    EXPECT_EQ(message(section("idle-timeout", seconds)),
              std::string("configuration_error: invalid idle-timeout ") + seconds);
  EXPECT_EQ(message(section("idle-timeout", "3600")), "accepted");
  EXPECT_EQ(message(section("persistent-connections", "maybe")), "accepted");
  // The trust is loaded with the settings: a file it cannot use stops the load, not each post.
  EXPECT_EQ(message(section("ca-file", dir.file("absent.pem"))),
            "configuration_error: ca-file " + dir.file("absent.pem") +
                " cannot be read: No such file or directory");
  test::write_file(dir.file("garbage.pem"), "not a certificate\n");
  EXPECT_EQ(message(section("ca-file", dir.file("garbage.pem")))
                .rfind("configuration_error: ca-file " + dir.file("garbage.pem") +
                           " holds no certificate that can be loaded: ",
                       0),
            0u);

  ptree codes = section("ignore-cert-errors", "");
  codes.add("ignore-cert-errors.error-code", "18");
  codes.add("ignore-cert-errors.comment", "not a code");
  EXPECT_EQ(message(codes), "accepted");
  codes.add("ignore-cert-errors.error-code", "x18");
  EXPECT_EQ(message(codes), "configuration_error: invalid ignore-cert-errors error-code x18");
}

TEST_F(AgentTest, DeviceHeartbeatsWaitTheirTurnAndAStopDropsThemQuietly) {
  test::management_server server(dir);
  ptree extra;
  extra.put("max-concurrent-posts", "2");
  configure(server.url(), extra);
  std::vector<std::unique_ptr<test_agent>> devices;
  for (int i = 0; i < 5; ++i) devices.push_back(std::make_unique<test_agent>(io, posting.poster()));
  target.waits_its_turn = false;  // like the status reporter
  const auto start_all = [&] {
    for (auto& device : devices) device->start_heartbeat();
    target.start_heartbeat();
  };

  start_all();
  EXPECT_EQ(posting.poster().in_flight(), 3u) << "two device posts and the reporter's";
  EXPECT_EQ(posting.poster().waiting(), 3u);
  run();
  EXPECT_EQ(server.requests().size(), 6u);
  for (auto& device : devices) {
    EXPECT_FALSE(device->busy());
    EXPECT_EQ(device->replies, 1);
  }
  EXPECT_EQ(posting.poster().in_flight(), 0u);

  // A stop: nothing waiting starts, nothing in flight is logged, nothing new is posted.
  start_all();
  const auto dropped = posting.poster().stop();
  EXPECT_EQ(dropped.waiting, 3u);
  EXPECT_EQ(dropped.in_flight, 3u);
  run();
  for (auto& device : devices) EXPECT_FALSE(device->busy());
  EXPECT_FALSE(target.busy());
  devices[0]->start_heartbeat();
  EXPECT_FALSE(devices[0]->busy());
  run();
  EXPECT_EQ(server.requests().size(), 6u);
  EXPECT_EQ(posting.poster().in_flight(), 0u);
  EXPECT_EQ(log.count('E') + log.count('W'), 0) << log.text();
}

TEST_F(AgentTest, PersistentConnectionsCarryTheHeartbeatsUntilAReloadOrAStop) {
  test::management_server server(dir);
  ptree idle_long;
  idle_long.put("idle-timeout", "60");  // longer than run() waits
  const ptree extra = configure_kept(server, idle_long);
  run_kept_cycle();
  server.script(R"({"keep_alive": true, "chunked": true, "interval": 600})");
  run_kept_cycle();
  EXPECT_EQ(target.interval, boost::posix_time::seconds(600)) << "the chunked reply was applied";
  server.script(R"({"keep_alive": true, "close_after": 3})");
  run_kept_cycle();
  run_kept_cycle();
  EXPECT_EQ(target.replies, 4);
  auto requests = server.requests();
  EXPECT_EQ(connections_of(requests), (std::vector<int>{1, 1, 1, 2}))
      << "the third reply said close";
  EXPECT_EQ(requests[0].request_line, "POST /heartbeat HTTP/1.1");
  EXPECT_EQ(requests[0].headers.back(),
            std::make_pair(std::string("Connection"), std::string("keep-alive")));
  EXPECT_EQ(requests[0].headers.size(), 6u) << "the same headers as without the option";

  // A reload drains at once: the kept connection holds nothing up, and the next load's posts
  // start on a new one.
  posting.poster().drop_waiting();
  run();
  // A post that starts while the reload drains is not kept either: its connection would hold
  // the drain until the server or the idle time-out closed it.
  run_cycle();
  configure(server.url(), extra);
  run_kept_cycle();
  EXPECT_EQ(server.requests().back().connection, 4);

  // So does a stop.
  posting.poster().stop();
  run();
  EXPECT_EQ(log.count('E') + log.count('W'), 0) << log.text();

  // Turned off again by a load that leaves the key out.
  configure(server.url());
  server.script(R"({"keep_alive": true})");
  run_cycle();
  EXPECT_EQ(server.requests().back().request_line, "POST /heartbeat HTTP/1.0");
  EXPECT_EQ(server.requests().back().connection, 5);
}

TEST_F(AgentTest, AHeartbeatOnAKeptConnectionTheServerClosedIsPostedAgainAndCounted) {
  test::management_server server(dir);
  configure_kept(server);
  server.script(R"({"keep_alive": true, "misbehave": "close-reused"})");
  const auto retries = agent_statistics::global().heartbeat_retries;
  run_kept_cycle();
  run_kept_cycle();
  EXPECT_EQ(target.replies, 2) << log.text();
  EXPECT_EQ(connections_of(server.requests()), (std::vector<int>{1, 1, 2}));
  EXPECT_EQ(agent_statistics::global().heartbeat_retries, retries + 1);
  EXPECT_EQ(log.count('E'), 0) << log.text();
}

TEST_F(AgentTest, KeptConnectionsAreNoMoreThanThePostsAtOnce) {
  test::management_server server(dir);
  ptree extra;
  extra.put("max-concurrent-posts", "2");
  configure_kept(server, extra);
  std::vector<std::unique_ptr<test_agent>> devices;
  for (int i = 0; i < 6; ++i) devices.push_back(std::make_unique<test_agent>(io, posting.poster()));
  const auto busy = [&] {
    return std::any_of(devices.begin(), devices.end(), [](const auto& d) { return d->busy(); });
  };
  for (int round = 0; round < 2; ++round) {
    for (auto& device : devices) device->start_heartbeat();
    io.restart();
    for (int turn = 0; turn < 150 && busy(); ++turn) io.run_one_for(100ms);
    ASSERT_FALSE(busy());
  }
  const auto numbers = connections_of(server.requests());
  EXPECT_EQ(numbers.size(), 12u);
  EXPECT_EQ(std::set<int>(numbers.begin(), numbers.end()).size(), 2u) << "two posts at once";
}

TEST_F(AgentTest, ATestRunWithKeptConnectionsEndsWhenItsPostsHave) {
  test::management_server server(dir);
  ptree extra;
  extra.put("idle-timeout", "3600");  // only the end of the run may close it
  configure_kept(server, extra);
  std::ostringstream transcript_text;
  transcript_sender transcript(io, transcript_text, &posting.server());
  posting.poster().use(transcript);
  run_cycle();
  EXPECT_EQ(server.requests().size(), 1u);
  EXPECT_NE(transcript_text.str().find("<!-- reply to <test agent> -->"), std::string::npos);
  posting.poster().use(posting.server());
}

TEST_F(AgentTest, TemplateThatExpandsToNothingIsNotPosted) {
  test::management_server server(dir);
  configure(server.url());
  test::write_file(dir.file("empty.xml"), "{{#NEVER}}x{{/NEVER}}");
  ptree section;
  section.put("heartbeat-template", dir.file("empty.xml"));
  section.put("server-uri", server.url());
  posting.configure(read_posting_settings(section));
  run_cycle();
  EXPECT_TRUE(server.requests().empty());
  EXPECT_FALSE(target.busy());
  EXPECT_TRUE(target.is_due());
  EXPECT_TRUE(log.has('E', "<test agent> - the heartbeat template " + dir.file("empty.xml") +
                               " expanded to nothing; heartbeat not sent"))
      << log.text();
}

TEST_F(AgentTest, TrustComesFromEachLoadAlone) {
  const auto pki = test::make_test_pki(dir);
  test::management_server server(dir, pki.ip_host);
  ptree extra;
  extra.put("ca-file", pki.ca_certificate);
  configure(server.url(), extra);
  run_cycle();
  EXPECT_EQ(target.replies, 1) << log.text();

  // Accepted with the listed verification errors, refused once the list is removed.
  ptree accepting;
  accepting.add("ignore-cert-errors.error-code",
                std::to_string(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY));
  accepting.add("ignore-cert-errors.error-code",
                std::to_string(X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE));
  configure(server.url(), accepting);
  run_cycle();
  EXPECT_EQ(target.replies, 2) << log.text();
  configure(server.url());
  run_cycle();
  EXPECT_EQ(target.replies, 2);
  EXPECT_TRUE(log.has_prefix('E', send_error + "certificate verification error ")) << log.text();
}

TEST_F(AgentTest, DueAgainOneIntervalOfTicksLaterWhateverTheSecondsFraction) {
  // Ticks 30 s apart on the monotonic clock, at every fraction of a second: an agent
  // started at one tick is due at the next one, never a tick later.
  target.interval = boost::posix_time::seconds(30);
  const auto origin = schedule_clock::steady::now();
  for (int step = 0; step < 1000; ++step) {
    const auto tick = origin + std::chrono::milliseconds(step * 7);
    target.last_delivered = schedule_clock::at(tick);
    EXPECT_FALSE(target.is_due(schedule_clock::at(tick + 29s)));
    ASSERT_TRUE(target.is_due(schedule_clock::at(tick + 30s))) << step;
  }
  EXPECT_LE(schedule_clock::now() - schedule_clock::at(origin), boost::posix_time::seconds(1));
}

// Heartbeats over TLS, with a certificate authority the process trusts.
struct AgentTlsTest : AgentTest {
  test::test_pki pki = test::make_test_pki(dir);
  AgentTlsTest() { ::setenv("SSL_CERT_FILE", pki.ca_certificate.c_str(), 1); }
  ~AgentTlsTest() override { ::unsetenv("SSL_CERT_FILE"); }
};

TEST_F(AgentTlsTest, TrustedCertificateForTheAddress) {
  test::management_server server(dir, pki.ip_host);
  configure(server.url());
  run_cycle();
  EXPECT_EQ(target.replies, 1) << log.text();
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_TRUE(server.requests()[0].tls);
  EXPECT_EQ(server.requests()[0].body, rendered(1));
}

TEST_F(AgentTlsTest, HostNameMismatchUnlessIgnored) {
  test::management_server server(dir, pki.other_host);
  configure(server.url());
  run_cycle();
  EXPECT_TRUE(log.has(
      'E', send_error +
               make_error_code(https::error::x509::cert_error::host_name_mismatch).message() +
               " (the certificate is for tamro.invalid, not for 127.0.0.1: use one of those names "
               "in server-uri, or give the server a certificate for 127.0.0.1)"))
      << log.text();
  EXPECT_EQ(target.replies, 0);
  EXPECT_TRUE(server.requests().empty());

  ptree extra;
  extra.put("ignore-cert-hostname", "true");
  configure(server.url(), extra);
  run_cycle();
  EXPECT_EQ(target.replies, 1) << log.text();
  EXPECT_EQ(server.requests().size(), 1u);
}

}  // namespace
}  // namespace tamro

namespace tamro {
namespace {

TEST_F(AgentTest, AReloadReadsAnEditedTemplateAgain) {
  test::management_server server(dir);
  configure(server.url());
  run_cycle();
  test::write_file(dir.file("heartbeat.xml"), "<edited n=\"{{HEARTBEAT_COUNTER}}\"/>\n");
  ptree section;
  section.put("heartbeat-template", dir.file("heartbeat.xml"));
  section.put("server-uri", server.url());
  posting.configure(read_posting_settings(section));
  run_cycle();
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].body, "<edited n=\"2\"/>\n");
}

}  // namespace
}  // namespace tamro
