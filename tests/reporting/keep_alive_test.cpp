#include <gtest/gtest.h>

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <memory>
#include <string>
#include <vector>

#include "reporting/connection_pool.hpp"
#include "reporting/http_error.hpp"
#include "tests/reporting/fetch.hpp"
#include "tests/reporting/test_server.hpp"

namespace tamro {
namespace {

namespace asio_error = boost::asio::error;
using boost::system::error_code;
using namespace std::chrono_literals;
using test::fetch_kept;
using test::test_server;

const std::string kept_hello = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";

option_set keeping_post() {
  option_set options;
  options.set(http::keep_alive{true});
  options.set(http::request_method{"POST"});
  options.set(http::request_content{"<hb/>"});
  options.set(http::request_content_type{"application/xml"});
  options.set(http::user_agent{"klav-agent/1.0 (TAMRO)"});
  options.set(http::timeout{std::chrono::seconds(10)});
  return options;
}

// Answers each request of a connection with the reply its index gives, until the client
// closes; a reply of "" closes the connection unanswered instead.
test_server::script serve(std::function<std::string(int connection, int request)> reply) {
  return [reply](test::server_peer& peer, int connection) {
    for (int request = 0;; ++request) {
      if (peer.read_request().empty()) return;
      const std::string answer = reply(connection, request);
      if (answer.empty()) return peer.finish();
      peer.send(answer);
    }
  };
}

struct KeepAlive : ::testing::Test {
  boost::asio::io_context io;
  std::shared_ptr<connection_pool> pool = std::make_shared<connection_pool>(io, 4, 30s);

  test::fetch_result post(const test_server& server, const option_set& options = keeping_post()) {
    return fetch_kept(io, pool, server.url() + "/hb", options);
  }
  // Runs until nothing is pending: a kept connection's watch and idle timer are.
  bool settles(std::chrono::seconds limit = 10s) {
    io.restart();
    io.run_for(limit);
    return io.stopped();
  }
};

TEST_F(KeepAlive, TheNextRequestsGoOverTheKeptConnection) {
  test_server server(serve([](int, int) { return kept_hello; }));
  for (int i = 0; i < 3; ++i) {
    const auto result = post(server);
    EXPECT_FALSE(result.open_error) << result.open_error.message();
    EXPECT_EQ(result.body, "hello");
    EXPECT_FALSE(result.retried);
  }
  EXPECT_EQ(server.connections(), 1);
  EXPECT_EQ(pool->idle(), 1u);
  const std::string request =
      "POST /hb HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
      "\r\nAccept: */*\r\nContent-Length: 5\r\n"
      "Content-Type: application/xml\r\n"
      "User-Agent: klav-agent/1.0 (TAMRO)\r\n"
      "Connection: keep-alive\r\n\r\n<hb/>";
  EXPECT_EQ(server.requests(), std::vector<std::string>(3, request));
}

struct drop_case {
  const char* name;
  std::string first_reply;
  std::string first_body;
  bool kept;
};

TEST_F(KeepAlive, WhatEndsAConnection) {
  const std::vector<drop_case> cases = {
      {"Connection: close",
       "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 5\r\n\r\nhello", "hello", false},
      {"close among other tokens",
       "HTTP/1.1 200 OK\r\nConnection: x-other, Close\r\nContent-Length: 5\r\n\r\nhello", "hello",
       false},
      {"HTTP/1.0 without keep-alive", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", "hello",
       false},
      {"HTTP/1.0 with keep-alive",
       "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 5\r\n\r\nhello", "hello",
       true},
      {"chunked beside a length",
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n"
       "5\r\nhello\r\n0\r\n\r\n",
       "hello", false},
      {"lengths that disagree",
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", "hello!", false},
      {"bytes after the body", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloXYZ", "hello",
       false},
      {"status other than 200", "HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nno", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pool = std::make_shared<connection_pool>(io, 4, 30s);
    test_server server(serve([&c](int connection, int request) {
      return connection == 0 && request == 0 ? c.first_reply : kept_hello;
    }));
    EXPECT_EQ(post(server).body, c.first_body);
    EXPECT_EQ(pool->idle(), c.kept ? 1u : 0u);
    const auto second = post(server);
    EXPECT_EQ(second.body, "hello") << second.open_error.message();
    EXPECT_FALSE(second.retried);
    EXPECT_EQ(server.connections(), c.kept ? 1 : 2);
    pool->close_all();
  }
}

struct chunked_case {
  const char* name;
  std::string body;  // after the head
  std::string decoded;
  error_code read_error;
};

TEST_F(KeepAlive, ChunkedReplies) {
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n";
  const std::vector<chunked_case> cases = {
      {"several chunks, extension, trailer",
       "4;name=\"v\"\r\n<hea\r\nA\r\nrtbeat-rep\r\n4\r\nly/>\r\n0\r\nX-Sum: 1\r\n\r\n",
       "<heartbeat-reply/>",
       {}},
      {"empty body", "0\r\n\r\n", "", {}},
      {"size that is not hexadecimal", "4\r\nabcd\r\nz\r\n", "abcd",
       http::error::malformed_chunked_body},
      {"cut before the last chunk", "4\r\nabcd\r\n", "abcd", asio_error::eof},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pool = std::make_shared<connection_pool>(io, 4, 30s);
    test_server server([&](test::server_peer& peer, int) {
      if (peer.read_request().empty()) return;
      peer.send(head + c.body);
      peer.finish();
    });
    const auto result = post(server);
    EXPECT_FALSE(result.open_error) << result.open_error.message();
    EXPECT_EQ(result.content_length, 0u);
    EXPECT_EQ(result.body, c.decoded);
    EXPECT_EQ(result.read_error, c.read_error) << result.read_error.message();
    EXPECT_TRUE(settles()) << "a connection the server closed is not kept waiting";
    EXPECT_EQ(pool->idle(), 0u);
  }
}

TEST_F(KeepAlive, AKeptConnectionThatFailsBeforeTheReplyIsRetriedOnceOnANewOne) {
  // Closed at the second request, unanswered: sent again on a new connection.
  test_server closing(serve([](int connection, int request) {
    return connection == 0 && request == 1 ? std::string() : kept_hello;
  }));
  EXPECT_EQ(post(closing).body, "hello");
  auto result = post(closing);
  EXPECT_FALSE(result.open_error) << result.open_error.message();
  EXPECT_EQ(result.body, "hello");
  EXPECT_TRUE(result.retried);
  EXPECT_EQ(closing.connections(), 2);
  EXPECT_EQ(closing.requests().size(), 3u);

  // Only once: the new connection failing too is the post's failure.
  pool = std::make_shared<connection_pool>(io, 4, 30s);
  test_server never_again(serve([](int connection, int request) {
    return connection == 0 && request == 0 ? kept_hello : std::string();
  }));
  EXPECT_EQ(post(never_again).body, "hello");
  result = post(never_again);
  EXPECT_EQ(result.open_error, asio_error::eof);
  EXPECT_TRUE(result.retried);
  EXPECT_EQ(never_again.connections(), 2);

  // Once a byte of the reply came, a failure is the post's: it may have been handled.
  pool = std::make_shared<connection_pool>(io, 4, 30s);
  test_server half_answer([](test::server_peer& peer, int) {
    peer.read_request();
    peer.send(kept_hello);
    peer.read_request();
    peer.send("HTTP/1.1 200 OK\r\n");
    peer.finish();
  });
  EXPECT_EQ(post(half_answer).body, "hello");
  result = post(half_answer);
  EXPECT_EQ(result.open_error, asio_error::eof);
  EXPECT_FALSE(result.retried);
  EXPECT_EQ(half_answer.connections(), 1);
}

TEST_F(KeepAlive, AKeptConnectionIsDroppedWhenTheServerClosesItOrItIdlesOut) {
  // The server closes it while it is kept: it is dropped at once, with no resend later.
  test_server closes_idle([](test::server_peer& peer, int) {
    if (peer.read_request().empty()) return;
    peer.send(kept_hello);
    peer.finish();
  });
  EXPECT_EQ(post(closes_idle).body, "hello");
  EXPECT_TRUE(settles()) << "the kept connection waits for nothing once the server closed it";
  EXPECT_EQ(pool->idle(), 0u);
  const auto result = post(closes_idle);
  EXPECT_EQ(result.body, "hello");
  EXPECT_FALSE(result.retried);
  EXPECT_EQ(closes_idle.connections(), 2);

  // Unused for the idle time-out: closed by us.
  pool = std::make_shared<connection_pool>(io, 4, 1s);
  test_server keeps(serve([](int, int) { return kept_hello; }));
  EXPECT_EQ(post(keeps).body, "hello");
  EXPECT_EQ(pool->idle(), 1u);
  EXPECT_TRUE(settles());
  EXPECT_EQ(pool->idle(), 0u);
  EXPECT_EQ(post(keeps).body, "hello");
  EXPECT_EQ(keeps.connections(), 2);
}

TEST_F(KeepAlive, ClosingTheKeptConnectionsForAReloadOrAStop) {
  test_server server(serve([](int, int) { return kept_hello; }));
  EXPECT_EQ(post(server).body, "hello");
  EXPECT_EQ(pool->idle(), 1u);
  pool->close_all();
  EXPECT_TRUE(settles(1s)) << "nothing left pending";

  // Until resumed, what ends is closed rather than kept.
  EXPECT_EQ(post(server).body, "hello");
  EXPECT_EQ(pool->idle(), 0u);
  pool->resume();
  EXPECT_EQ(post(server).body, "hello");
  EXPECT_EQ(post(server).body, "hello");
  EXPECT_EQ(server.connections(), 3);
}

}  // namespace
}  // namespace tamro
