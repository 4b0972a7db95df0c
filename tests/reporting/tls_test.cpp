#include <gtest/gtest.h>

#include <openssl/pem.h>
#include <openssl/x509_vfy.h>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "reporting/certificate_check.hpp"
#include "reporting/connection_pool.hpp"
#include "reporting/http_error.hpp"
#include "reporting/x509_error.hpp"
#include "tests/reporting/fetch.hpp"
#include "tests/reporting/test_server.hpp"
#include "tests/support/agent_support.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro {
namespace {

using test::fetch;
using test::test_server;
namespace x509 = https::error::x509;

const std::string ok_hello = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello";

// A test CA and server certificates made with the openssl command, once for all tests.
class TlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::temp_dir;
    const auto run = [](const std::string& command) {
      ASSERT_EQ(std::system(("(" + command + ") >/dev/null 2>&1").c_str()), 0) << command;
    };
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    run("cd " + dir_->path() + " && openssl req -x509" + key +
        " -keyout ca.key -out ca.crt -days 2 -subj /CN=tamro-test-ca");
    const auto issue = [&](const std::string& name, const std::string& subject,
                           const std::string& extension) {
      test::write_file(dir_->file(name + ".ext"), extension + "\n");
      run("cd " + dir_->path() + " && openssl req -new" + key + " -keyout " + name + ".key -out " +
          name + ".csr -subj " + subject + " && openssl x509 -req -in " + name +
          ".csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -out " + name + ".crt -extfile " +
          name + ".ext");
    };
    issue("dns", "/CN=not-the-host", "subjectAltName=DNS:localhost");
    issue("ip", "/CN=not-the-host", "subjectAltName=IP:127.0.0.1");
    issue("cn", "/CN=localhost", "basicConstraints=CA:FALSE");
    issue("cn_ip", "/CN=127.0.0.1", "basicConstraints=CA:FALSE");
    issue("wildcard", "/CN=*.localhost", "subjectAltName=DNS:*.localhost");
    issue("corp_wildcard", "/CN=not-the-host", "subjectAltName=DNS:*.corp.example,IP:::1");
    issue("partial_wildcard", "/CN=not-the-host", "subjectAltName=DNS:f*.corp.example");
    issue("cn_and_other_san", "/CN=localhost", "subjectAltName=DNS:other.invalid");
    run("cd " + dir_->path() + " && openssl req -x509" + key +
        " -keyout self.key -out self.crt -days 2 -subj /CN=localhost"
        " -addext subjectAltName=DNS:localhost");
  }
  static void TearDownTestSuite() { delete dir_; }

  static test_server::tls_identity identity(const std::string& name) {
    return {dir_->file(name + ".crt"), dir_->file(name + ".key")};
  }
  static option_set trusting() {
    option_set options;
    options.set(https::ca_file{dir_->file("ca.crt")});
    return options;
  }

  static test::temp_dir* dir_;
};

test::temp_dir* TlsTest::dir_ = nullptr;

TEST_F(TlsTest, TrustedChainAndHostNames) {
  struct host_case {
    const char* certificate;
    const char* host;
    bool matches;
  };
  for (const auto& c :
       {host_case{"dns", "localhost", true}, host_case{"dns", "127.0.0.1", false},
        host_case{"ip", "127.0.0.1", true}, host_case{"ip", "localhost", false},
        host_case{"cn", "localhost", true},
        // An address is held to the certificate's address names alone.
        host_case{"cn_ip", "127.0.0.1", false}, host_case{"wildcard", "localhost", false},
        host_case{"cn_and_other_san", "localhost", false}}) {
    test_server server(test_server::reply(ok_hello), identity(c.certificate));
    const auto result = fetch(server.url(c.host) + "/", trusting());
    const std::string label = std::string(c.certificate) + " for " + c.host;
    if (c.matches) {
      EXPECT_FALSE(result.open_error) << label << ": " << result.open_error.message();
      EXPECT_EQ(result.body, "hello") << label;
    } else {
      EXPECT_EQ(result.open_error, x509::cert_error::host_name_mismatch) << label;
      EXPECT_EQ(result.open_error.message(), "certificate host name mismatch");
    }
    // Server name indication goes with names, never with addresses. A client that refused
    // the certificate may be done before the server's side of the handshake has returned.
    ASSERT_TRUE(test::wait_until([&] { return server.server_names().size() == 1; },
                                 std::chrono::seconds(5)))
        << label;
    EXPECT_EQ(server.server_names()[0], c.host == std::string("localhost") ? "localhost" : "")
        << label;
  }
}

TEST_F(TlsTest, SessionsOfVerifiedPeersAreResumedWithinOneContext) {
  test_server server(test_server::reply(ok_hello), identity("ip"));
  auto shared = std::make_shared<tls_client_context>();
  for (int exchange = 0; exchange < 3; ++exchange) {
    const auto result = fetch(server.url(), trusting(), shared);
    EXPECT_EQ(result.body, "hello") << result.open_error.message();
  }
  EXPECT_EQ(server.resumed_sessions(), 2) << "every exchange after the first resumes";
  EXPECT_EQ(shared->kept_sessions(), 1u);

  // A new context (a reload) starts afresh; a peer that fails its checks leaves none behind.
  EXPECT_EQ(fetch(server.url(), trusting(), std::make_shared<tls_client_context>()).body, "hello");
  EXPECT_EQ(server.resumed_sessions(), 2);
  auto mismatched = std::make_shared<tls_client_context>();
  EXPECT_EQ(fetch(server.url("localhost"), trusting(), mismatched).open_error,
            x509::cert_error::host_name_mismatch);
  EXPECT_EQ(mismatched->kept_sessions(), 0u);
}

TEST_F(TlsTest, AKeptConnectionIsCheckedOnceAndANewOneResumesTheSession) {
  test_server server(
      [](test::server_peer& peer, int) {
        while (!peer.read_request().empty())
          peer.send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
      },
      identity("ip"));
  boost::asio::io_context io;
  auto pool = std::make_shared<connection_pool>(io, 2, std::chrono::seconds(30));
  auto tls = std::make_shared<tls_client_context>();
  auto options = trusting();
  options.set(http::keep_alive{true});
  for (int exchange = 0; exchange < 3; ++exchange)
    EXPECT_EQ(test::fetch_kept(io, pool, server.url(), options, tls).body, "hello");
  EXPECT_EQ(server.connections(), 1);
  EXPECT_EQ(server.server_names().size(), 1u) << "one handshake";

  pool->close_all();
  pool->resume();
  EXPECT_EQ(test::fetch_kept(io, pool, server.url(), options, tls).body, "hello");
  EXPECT_EQ(server.connections(), 2);
  EXPECT_EQ(server.resumed_sessions(), 1) << "a kept connection closed unused stays resumable";
}

TEST_F(TlsTest, RedirectFromHttpsToPlainHttpIsRefused) {
  test_server plain(test_server::reply(ok_hello));
  test_server secure(
      test_server::reply("HTTP/1.1 302 Found\r\nLocation: " + plain.url() + "/\r\n\r\n"),
      identity("ip"));
  EXPECT_EQ(fetch(secure.url(), trusting()).open_error, http::error::bad_redirect_location);
  EXPECT_EQ(plain.connections(), 0) << "nothing goes out in clear";
}

TEST_F(TlsTest, IgnoringTheHostName) {
  test_server server(test_server::reply(ok_hello), identity("wildcard"));
  auto options = trusting();
  options.set(https::ignore_cert_hostname{true});
  const auto result = fetch(server.url("localhost"), options);
  EXPECT_FALSE(result.open_error) << result.open_error.message();
  EXPECT_EQ(result.body, "hello");
}

TEST_F(TlsTest, UntrustedCertificates) {
  test_server self_signed(test_server::reply(ok_hello), identity("self"));
  auto result = fetch(self_signed.url("localhost"), trusting());
  EXPECT_EQ(result.open_error, x509::make_verify_error(X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT));
  EXPECT_EQ(result.open_error.category().name(),
            std::string("X509 certificate verification error"));
  EXPECT_EQ(result.open_error.message(),
            "certificate verification error 18: " + std::string(X509_verify_cert_error_string(18)));
  EXPECT_TRUE(self_signed.requests().empty()) << "nothing is sent to an untrusted peer";

  auto accepting = trusting();
  accepting.set(https::ignore_cert_errors{{X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT}});
  result = fetch(self_signed.url("localhost"), accepting);
  EXPECT_FALSE(result.open_error) << result.open_error.message();
  EXPECT_EQ(result.body, "hello");

  // A chain from a CA that is not trusted; accepting an unrelated code does not help.
  test_server unknown_ca(test_server::reply(ok_hello), identity("dns"));
  option_set unrelated;
  unrelated.set(https::ignore_cert_errors{{X509_V_ERR_CERT_HAS_EXPIRED}});
  result = fetch(unknown_ca.url("localhost"), unrelated);
  EXPECT_EQ(result.open_error.category(), x509::verify_category());
  EXPECT_NE(result.open_error.value(), X509_V_ERR_CERT_HAS_EXPIRED);
}

TEST_F(TlsTest, RedirectFromHttpToHttps) {
  test_server secure(test_server::reply(ok_hello), identity("dns"));
  test_server plain(test_server::reply(
      "HTTP/1.1 302 Found\r\nLocation: " + secure.url("localhost") + "/hb\r\n\r\n"));
  auto options = trusting();
  options.set(http::request_method{"POST"});
  options.set(http::request_content{"<hb/>"});
  const auto result = fetch(plain.url() + "/hb", options);
  EXPECT_FALSE(result.open_error) << result.open_error.message();
  EXPECT_EQ(result.body, "hello");
  ASSERT_EQ(plain.requests().size(), 1u);
  ASSERT_EQ(secure.requests().size(), 1u);
  const auto host_line = [](const std::string& request) {
    const auto start = request.find("Host: ");
    return request.substr(start, request.find("\r\n", start) - start);
  };
  auto expected = plain.requests()[0];
  expected.replace(expected.find(host_line(expected)), host_line(expected).size(),
                   host_line(secure.requests()[0]));
  EXPECT_EQ(secure.requests()[0], expected) << "the same request, but for the Host line";
  EXPECT_EQ(host_line(secure.requests()[0]), "Host: localhost:" + std::to_string(secure.port()));
}

TEST_F(TlsTest, HostNameCheckDetails) {
  const auto load = [](const std::string& name) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(dir_->file(name + ".crt").c_str(), "r"),
                                               fclose);
    return std::unique_ptr<X509, void (*)(X509*)>(
        PEM_read_X509(file.get(), nullptr, nullptr, nullptr), X509_free);
  };
  struct host_case {
    const char* certificate;
    const char* host;
    bool matches;
  };
  for (const auto& c : {
           host_case{"dns", "LocalHost", true},
           host_case{"dns", "localhost.evil", false},
           host_case{"dns", "localhos", false},
           // One wildcard, as the whole left-most label, for one label only.
           host_case{"corp_wildcard", "a.corp.example", true},
           host_case{"corp_wildcard", "A.Corp.Example", true},
           host_case{"corp_wildcard", "a.b.corp.example", false},
           host_case{"corp_wildcard", "corp.example", false},
           host_case{"corp_wildcard", "::1", true},
           host_case{"corp_wildcard", "0:0::1", true},
           host_case{"corp_wildcard", "127.0.0.1", false},
           host_case{"partial_wildcard", "foo.corp.example", false},
           host_case{"partial_wildcard", "f.corp.example", false},
           // Beneath a name of one label a wildcard stands for nothing.
           host_case{"wildcard", "www.localhost", false},
           host_case{"cn_and_other_san", "localhost", false},
       }) {
    const auto certificate = load(c.certificate);
    EXPECT_EQ(https::certificate_matches_host(certificate.get(), c.host), c.matches)
        << c.certificate << " for " << c.host;
  }
  EXPECT_TRUE(https::is_ip_address("::1"));
  EXPECT_FALSE(https::is_ip_address("127.1"));

  // What the operator is told a refused certificate names: what the matcher looked at.
  using names = std::vector<std::string>;
  EXPECT_EQ(https::certificate_names(load("corp_wildcard").get()),
            (names{"*.corp.example", "::1"}));
  EXPECT_EQ(https::certificate_names(load("cn").get()), (names{"localhost"}));
  EXPECT_EQ(https::certificate_names(load("cn_and_other_san").get()), (names{"other.invalid"}));
}

// An IPv6 literal is connected to as written and held to the certificate's IP names.
TEST(Ipv6, HttpsToAnAddressLiteralChecksItsIpSubjectAltName) {
  if (!test::has_ipv6_loopback()) GTEST_SKIP() << "this host has no IPv6 loopback (::1)";
  test::temp_dir dir;
  const auto pki = test::make_test_pki(dir);
  option_set trusting;
  trusting.set(https::ca_file{pki.ca_certificate});

  const test::management_server named(dir, pki.ip_host, "::1");
  ASSERT_EQ(named.url().rfind("https://[::1]:", 0), 0u) << named.url();
  const auto result = fetch(named.url(), trusting);
  EXPECT_FALSE(result.open_error) << result.open_error.message();
  EXPECT_NE(result.body.find("<heartbeat-reply>"), std::string::npos) << result.body;
  const auto requests = named.requests();
  ASSERT_EQ(requests.size(), 1u);
  for (const auto& [name, value] : requests[0].headers) {
    if (name == "Host") {
      EXPECT_EQ(value, "[::1]:" + std::to_string(named.port()));
    }
  }

  test::temp_dir other_dir;
  const test::management_server other(other_dir, pki.other_host, "::1");
  EXPECT_EQ(fetch(other.url(), trusting).open_error, x509::cert_error::host_name_mismatch);
}

TEST(X509Errors, Messages) {
  EXPECT_EQ(make_error_code(x509::cert_error::no_peer_certificate).message(),
            "no certificate was presented by the peer");
  EXPECT_EQ(boost::system::error_code(7, x509::cert_category()).message(),
            "unknown certificate error");
  EXPECT_STREQ(x509::cert_category().name(), "X509 certificate error");
}

}  // namespace
}  // namespace tamro
