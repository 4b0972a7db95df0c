#include <gtest/gtest.h>

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <memory>

#include "reporting/connection.hpp"
#include "reporting/http_error.hpp"
#include "reporting/url_stream.hpp"
#include "tests/reporting/fetch.hpp"
#include "tests/reporting/test_server.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro {
namespace {

namespace asio_error = boost::asio::error;
using boost::system::error_code;
using test::fetch;
using test::test_server;

const std::string ok_hello = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello";

TEST(UrlStream, SendsTheRequestByteForByte) {
  test_server server(test_server::reply(ok_hello));
  const auto port = std::to_string(server.port());

  EXPECT_FALSE(fetch(server.url() + "/status?x=1").open_error);
  EXPECT_FALSE(fetch(server.url()).open_error);

  option_set post;
  post.set(http::request_method{"POST"});
  post.set(http::request_content{"<hb/>"});
  post.set(http::request_content_type{"application/xml; charset=\"utf-8\""});
  post.set(http::user_agent{"klav-agent/1.0 (TAMRO)"});
  EXPECT_FALSE(fetch(server.url() + "/hb", post).open_error);

  post.set(http::request_content_type{""});
  EXPECT_FALSE(fetch(server.url() + "/hb", post).open_error);

  // Persistent connections off is the request above, byte for byte.
  post.set(http::keep_alive{false});
  EXPECT_FALSE(fetch(server.url() + "/hb", post).open_error);

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[4], requests[3]);
  EXPECT_EQ(requests[0], "GET /status?x=1 HTTP/1.0\r\nHost: 127.0.0.1:" + port +
                             "\r\nAccept: */*\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(requests[1], "GET / HTTP/1.0\r\nHost: 127.0.0.1:" + port +
                             "\r\nAccept: */*\r\nConnection: close\r\n\r\n")
      << "an empty path is sent as /";
  EXPECT_EQ(requests[2],
            "POST /hb HTTP/1.0\r\nHost: 127.0.0.1:" + port +
                "\r\nAccept: */*\r\nContent-Length: 5\r\n"
                "Content-Type: application/xml; charset=\"utf-8\"\r\n"
                "User-Agent: klav-agent/1.0 (TAMRO)\r\nConnection: close\r\n\r\n<hb/>");
  EXPECT_EQ(requests[3],
            "POST /hb HTTP/1.0\r\nHost: 127.0.0.1:" + port +
                "\r\nAccept: */*\r\nContent-Length: 5\r\n"
                "User-Agent: klav-agent/1.0 (TAMRO)\r\nConnection: close\r\n\r\n<hb/>");
}

TEST(UrlStream, RefusesValuesThatWouldBreakTheRequest) {
  test_server server(test_server::reply(ok_hello));
  option_set bad_agent;
  bad_agent.set(http::user_agent{"x\r\nX-Injected: 1"});
  EXPECT_EQ(fetch(server.url(), bad_agent).open_error, asio_error::invalid_argument);
  option_set bad_method;
  bad_method.set(http::request_method{"GET /x"});
  EXPECT_EQ(fetch(server.url(), bad_method).open_error, asio_error::invalid_argument);
  EXPECT_EQ(server.connections(), 0);
}

struct head_case {
  const char* name;
  std::string response;
  error_code open_error;
  std::size_t content_length;
  std::string body;
};

TEST(UrlStream, ResponseHeads) {
  const std::vector<head_case> cases = {
      {"body with the headers",
       "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n"
       "Content-Length: 5\r\n\r\nhello",
       {},
       5,
       "hello"},
      {"no reason phrase, space kept", "HTTP/1.1 200 \r\nContent-Length: 2\r\n\r\nhi", {}, 2, "hi"},
      {"no reason phrase, no space", "HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nhi",
       http::error::malformed_status_line, 0, ""},
      {"no space after the colon", "HTTP/1.1 200 OK\r\nContent-Length:2\r\n\r\nhi",
       http::error::malformed_response_headers, 0, ""},
      {"lower-case name", "HTTP/1.1 200 OK\r\ncontent-length: 2\r\n\r\nhi", {}, 2, "hi"},
      {"continuation line",
       "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: \r\n 2\r\n\r\nhi",
       {},
       2,
       "hi"},
      {"bare LF", "HTTP/1.1 200 OK\r\nX-A: 1\nContent-Length: 2\r\n\r\nhi",
       http::error::malformed_response_headers, 0, ""},
      {"signed length", "HTTP/1.1 200 OK\r\nContent-Length: +3\r\n\r\nabc", {}, 3, "abc"},
      {"length with trailing text",
       "HTTP/1.1 200 OK\r\nContent-Length: 3 bytes\r\n\r\nabc",
       {},
       3,
       "abc"},
      {"no header lines", "HTTP/1.0 200 OK\r\n\r\nbody", {}, 0, ""},
      {"100 continue",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
       {},
       2,
       "ok"},
      {"100 with a header",
       "HTTP/1.1 100 Continue\r\nX-A: 1\r\n\r\nHTTP/1.1 200 OK\r\n"
       "Content-Length: 2\r\n\r\nok",
       {},
       2,
       "ok"},
      {"100 without its empty line",
       "HTTP/1.1 100 Continue\r\nHTTP/1.1 200 OK\r\n"
       "Content-Length: 2\r\n\r\nok",
       {},
       2,
       "ok"},
      {"204", "HTTP/1.1 204 No Content\r\n\r\n", http::make_status_error(204), 0, ""},
      {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nno", http::make_status_error(404),
       2, ""},
      {"closed before the head ends", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n", asio_error::eof,
       0, ""},
      {"short body", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhi", {}, 9, "hi"},
  };
  for (const auto& c : cases) {
    test_server server(test_server::reply(c.response));
    const auto result = fetch(server.url() + "/");
    EXPECT_EQ(result.open_error, c.open_error) << c.name << ": " << result.open_error.message();
    EXPECT_EQ(result.content_length, c.content_length) << c.name;
    EXPECT_EQ(result.body, c.body) << c.name;
  }
}

TEST(UrlStream, HeadFieldsAndEndOfBody) {
  test_server server(test_server::reply(
      "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 9\r\n\r\nhi"));
  const auto result = fetch(server.url() + "/");
  EXPECT_EQ(result.content_type, "text/xml");
  EXPECT_EQ(result.headers, "Content-Type: text/xml\r\nContent-Length: 9\r\n\r\n");
  EXPECT_EQ(result.read_error, asio_error::eof);
}

TEST(UrlStream, FollowsRedirectsWithTheSameRequest) {
  test_server target(test_server::reply(ok_hello));
  test_server redirector(
      test_server::reply("HTTP/1.1 302 Found\r\nLocation: " + target.url() + "/moved\r\n\r\n"));
  option_set post;
  post.set(http::request_method{"POST"});
  post.set(http::request_content{"abc"});
  const auto result = fetch(redirector.url() + "/hb", post);
  EXPECT_FALSE(result.open_error) << result.open_error.message();
  EXPECT_EQ(result.body, "hello");
  ASSERT_EQ(target.requests().size(), 1u);
  EXPECT_EQ(target.requests()[0].substr(0, 23), "POST /moved HTTP/1.0\r\nH");
  EXPECT_EQ(target.requests()[0].substr(target.requests()[0].size() - 3), "abc");
}

TEST(UrlStream, RedirectLoopEndsAtTheLimit) {
  std::string self_url;
  test_server loop([&self_url](test::server_peer& peer, int) {
    if (peer.read_request().empty()) return;
    peer.send("HTTP/1.1 301 Moved\r\nLocation: " + self_url + "/again\r\n\r\n");
    peer.finish();
  });
  self_url = loop.url();
  EXPECT_EQ(fetch(loop.url()).open_error, http::error::too_many_redirects);
  EXPECT_EQ(loop.connections(), 11) << "the first request and ten redirects";
}

TEST(UrlStream, RedirectWithoutUsableLocation) {
  for (const char* location : {"", "Location: /relative\r\n", "Location: not a url\r\n",
                               "Location: file:///etc/hostname\r\n"}) {
    test_server server(
        test_server::reply(std::string("HTTP/1.1 302 Found\r\n") + location + "\r\n"));
    EXPECT_EQ(fetch(server.url()).open_error, http::error::bad_redirect_location) << location;
  }
}

TEST(UrlStream, TimesOutOnASilentServer) {
  test_server silent([](test::server_peer& peer, int) {
    peer.read_request();
    peer.wait_for_close();  // never answers
  });
  option_set options;
  options.set(http::timeout{std::chrono::seconds(1)});
  auto result = fetch(silent.url(), options);
  EXPECT_EQ(result.open_error, asio_error::timed_out);
  EXPECT_GE(result.elapsed, std::chrono::milliseconds(900));
  EXPECT_LT(result.elapsed, std::chrono::seconds(5));

  // The limit covers the body too.
  test_server stalling([](test::server_peer& peer, int) {
    peer.read_request();
    peer.send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab");
    peer.wait_for_close();
  });
  result = fetch(stalling.url(), options);
  EXPECT_FALSE(result.open_error);
  EXPECT_EQ(result.body, "ab");
  EXPECT_EQ(result.read_error, asio_error::timed_out);
}

TEST(UrlStream, SizeLimits) {
  test_server big_head(test_server::reply(
      "HTTP/1.1 200 OK\r\nX-Big: " + std::string(http::max_head_size, 'x') + "\r\n\r\n"));
  EXPECT_EQ(fetch(big_head.url()).open_error, http::error::response_headers_too_large);

  const auto body_response = [](std::size_t size) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n" +
           std::string(size, 'b');
  };
  test_server at_limit(test_server::reply(body_response(http::max_body_size)));
  auto result = fetch(at_limit.url());
  EXPECT_FALSE(result.read_error);
  EXPECT_EQ(result.body.size(), http::max_body_size);

  test_server past_limit(test_server::reply(body_response(http::max_body_size + 1)));
  result = fetch(past_limit.url());
  EXPECT_EQ(result.read_error, http::error::response_body_too_large);
  EXPECT_EQ(result.body.size(), http::max_body_size);
}

TEST(UrlStream, OtherSchemesAndFailures) {
  EXPECT_EQ(fetch("ftp://127.0.0.1/x").open_error, asio_error::operation_not_supported);
  EXPECT_EQ(
      fetch("http://127.0.0.1:" + std::to_string(test::free_port(SOCK_STREAM)) + "/").open_error,
      asio_error::connection_refused);

  // A local file is never read as a reply: that would pass for a delivery.
  test::temp_dir dir;
  test::write_file(dir.file("reply.xml"), "<reply/>");
  const auto result = fetch("file://" + dir.file("reply.xml"));
  EXPECT_EQ(result.open_error, asio_error::operation_not_supported);
  EXPECT_EQ(result.body, "");
}

TEST(UrlStream, HandlersArePostedAndCancellationIsSafe) {
  test_server silent([](test::server_peer& peer, int) {
    peer.read_request();
    peer.wait_for_close();
  });
  boost::asio::io_context io;
  std::vector<error_code> results;
  auto stream = std::make_unique<url_stream>(io);
  stream->open(url::from_string(silent.url()), [&](error_code e) { results.push_back(e); });
  stream->open(url::from_string(silent.url()), [&](error_code e) { results.push_back(e); });
  EXPECT_TRUE(results.empty()) << "never inline";
  io.run_for(std::chrono::milliseconds(200));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0], asio_error::already_open);

  // Destroyed with the open pending: the handler still runs, once, with operation_aborted.
  stream.reset();
  io.run_for(std::chrono::seconds(2));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[1], asio_error::operation_aborted);

  // Stream and io_context both gone with a connect and a time-out pending.
  {
    boost::asio::io_context short_lived;
    url_stream abandoned(short_lived);
    abandoned.open(url::from_string(silent.url()), [](error_code) {});
    short_lived.run_for(std::chrono::milliseconds(50));
  }

  // close() during the body read, then the same stream opened again.
  test_server server([](test::server_peer& peer, int) {
    peer.read_request();
    peer.send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab");
    peer.wait_for_close();
  });
  url_stream reused(io);
  char buffer[16];
  std::vector<std::string> events;
  reused.open(url::from_string(server.url()), [&](error_code e) {
    events.push_back("open " + e.message());
    reused.read_some(boost::asio::buffer(buffer), [&](error_code, std::size_t n) {
      events.push_back("read " + std::to_string(n));
      reused.read_some(boost::asio::buffer(buffer), [&](error_code e, std::size_t) {
        events.push_back(e == asio_error::operation_aborted ? "aborted" : e.message());
      });
      reused.close();
      reused.open(url::from_string(server.url()), [&](error_code e) {
        events.push_back("reopen " + e.message());
        reused.close();
      });
    });
  });
  io.restart();
  io.run_for(std::chrono::seconds(5));
  EXPECT_EQ(events,
            (std::vector<std::string>{"open Success", "read 2", "aborted", "reopen Success"}));
}

}  // namespace
}  // namespace tamro
