#include <gtest/gtest.h>

#include <stdexcept>

#include "reporting/option_set.hpp"
#include "reporting/url.hpp"

namespace tamro {
namespace {

TEST(Url, SplitsComponents) {
  const auto u = url::from_string("https://user:pw@Example.test:8443/a/b?x=1&y=2#frag");
  EXPECT_EQ(u.protocol(), "https");
  EXPECT_EQ(u.user_info(), "user:pw");
  EXPECT_EQ(u.host(), "Example.test");
  EXPECT_EQ(u.port(), 8443);
  EXPECT_EQ(u.path(), "/a/b");
  EXPECT_EQ(u.query(), "x=1&y=2");
  EXPECT_EQ(u.fragment(), "frag");
  EXPECT_EQ(u.to_string(), "https://user:pw@Example.test:8443/a/b?x=1&y=2#frag");
  EXPECT_EQ(u.to_string(url::host_component | url::port_component), "Example.test:8443");
  EXPECT_EQ(u.to_string(url::path_component | url::query_component), "/a/b?x=1&y=2");
}

TEST(Url, PortsAndOptionalParts) {
  EXPECT_EQ(url::from_string("http://h/").port(), 80);
  EXPECT_EQ(url::from_string("https://h/").port(), 443);
  EXPECT_EQ(url::from_string("ftp://h/").port(), 0);

  const auto bare = url::from_string("http://h");
  EXPECT_EQ(bare.to_string(url::host_component | url::port_component), "h");
  EXPECT_EQ(bare.to_string(url::path_component | url::query_component), "");
  // "?" with an empty query is kept as written.
  EXPECT_EQ(url::from_string("http://h/p?").to_string(url::path_component | url::query_component),
            "/p?");
  EXPECT_EQ(url::from_string("http://h/p#a?b").query(), "");

  const auto v6 = url::from_string("http://[::1]:8080/x");
  EXPECT_EQ(v6.host(), "::1");
  EXPECT_TRUE(v6.host_is_ipv6());
  EXPECT_EQ(v6.to_string(url::host_component | url::port_component), "[::1]:8080");

  const auto file = url::from_string("file:///C:/tamro/reply.xml");
  EXPECT_EQ(file.protocol(), "file");
  EXPECT_EQ(file.host(), "");
  EXPECT_EQ(file.path(), "/C:/tamro/reply.xml");
}

TEST(Url, RefusesWhatIsNotAnAbsoluteUrl) {
  for (const char* text :
       {"", "/relative/path", "no-scheme", "1http://h/", "ht tp://h/", "http://h/a b",
        "http://h/\r\nX: y", "http://h:99999/", "http://h:8x/", "http://[::1/", "http://[zz]/"})
    EXPECT_THROW(url::from_string(text), std::invalid_argument) << text;
}

TEST(OptionSet, DefaultsReplacementAndCopies) {
  option_set options;
  EXPECT_EQ(options.get<http::request_method>().value, "GET");
  EXPECT_EQ(options.get<http::timeout>().value, std::chrono::seconds(60));
  EXPECT_FALSE(options.get<https::ignore_cert_hostname>().value);

  options.set(http::request_method{"POST"});
  options.set(http::user_agent{"a"});
  options.set(http::request_method{"PUT"});
  EXPECT_EQ(options.get<http::request_method>().value, "PUT");

  option_set copy(options);
  copy.set(http::user_agent{"b"});
  EXPECT_EQ(options.get<http::user_agent>().value, "a") << "copies are independent";
  option_set taken;
  taken.set_options(options);
  options.set(http::request_method{"DELETE"});
  EXPECT_EQ(taken.get<http::request_method>().value, "PUT");
  EXPECT_EQ(copy.get<http::request_method>().value, "PUT");
  EXPECT_EQ(options.get<http::user_agent>().value, "a");
  options.set(http::request_method{"PUT"});

  option_set merged;
  merged.set(http::user_agent{"old"});
  merged.set(https::ignore_cert_errors{{18, 20}});
  merged.set_options(copy);
  EXPECT_EQ(merged.get<http::user_agent>().value, "b");
  EXPECT_EQ(merged.get<http::request_method>().value, "PUT");
  EXPECT_EQ(merged.get<https::ignore_cert_errors>().value, (std::vector<std::int32_t>{18, 20}));

  merged = options;
  EXPECT_EQ(merged.get<http::user_agent>().value, "a");
  EXPECT_TRUE(merged.get<https::ignore_cert_errors>().value.empty());
}

}  // namespace
}  // namespace tamro
