#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "reporting/response_parser.hpp"

namespace tamro::http {
namespace {

TEST(StatusLine, AcceptsWellFormedLines) {
  const auto line = parse_status_line("HTTP/1.1 404 Not Found\r\n");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->major_version, 1u);
  EXPECT_EQ(line->minor_version, 1u);
  EXPECT_EQ(line->status, 404);
  EXPECT_EQ(line->reason, "Not Found");

  EXPECT_TRUE(parse_status_line("HTTP/1.0 200 \r\n")) << "empty reason";
  EXPECT_TRUE(parse_status_line("HTTP/12.34 200 OK\r\n")) << "version is not checked";
  const auto high_bytes = parse_status_line("HTTP/1.0 200 Gr\xc3\xbc\xc3\x9f\x65\r\n");
  ASSERT_TRUE(high_bytes);
  EXPECT_EQ(high_bytes->reason, "Gr\xc3\xbc\xc3\x9f\x65");
}

TEST(StatusLine, RefusesDeviations) {
  for (const char* text : {
           "HTTP/1.1 200\r\n",         // no space after the code
           "HTTP/1.1 200 OK\n",        // bare LF
           "HTTP/1.1 200 OK",          // no line end
           "HTTP/1.1 200 O\tK\r\n",    // control byte in the reason
           "HTTP/1.1 200 OK\x7f\r\n",  // DEL
           "HTTP/1 200 OK\r\n",        // no minor version
           "HTTP/.1 200 OK\r\n",       // no major version
           "http/1.1 200 OK\r\n",      // case matters
           "HTTP/1.1  200 OK\r\n",     // two spaces
           "HTTP/1.1 OK\r\n",          // no code
           "HTTP/1.1 200 OK\r\nX",     // bytes after the line
           "HTTP/1.1 000 OK\r\n",      // would pass for success
           "HTTP/1.1 002 OK\r\n",      // would pass for a client error value
           "HTTP/1.1 99999999999 OK\r\n",
           "",
       })
    EXPECT_FALSE(parse_status_line(text)) << text;
}

TEST(HeaderBlock, KeepsTheFieldsTheClientUses) {
  const auto headers = parse_header_block(
      "Content-Type: text/xml\r\n"
      "content-length: 42\r\n"
      "LOCATION: http://example.test/x\r\n"
      "X-Other: ignored\r\n"
      "\r\n");
  ASSERT_TRUE(headers);
  EXPECT_EQ(headers->content_type, "text/xml");
  EXPECT_EQ(headers->content_length, 42u);
  EXPECT_EQ(headers->location, "http://example.test/x");

  const auto empty = parse_header_block("\r\n");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->content_length, 0u);
}

TEST(HeaderBlock, ValuesContinuationsAndRepeats) {
  // Continuation lines lose their leading blanks and join without a separator; extra
  // blanks after the colon stay in the value; the last header of a name wins.
  const auto headers = parse_header_block(
      "Content-Type: text/\r\n"
      " \t plain;\r\n"
      "\tcharset=x\r\n"
      "Location:  two spaces\r\n"
      "Content-Length: 1\r\n"
      "Content-Length: 2\r\n"
      "X-Empty: \r\n"
      "\r\n");
  ASSERT_TRUE(headers);
  EXPECT_EQ(headers->content_type, "text/plain;charset=x");
  EXPECT_EQ(headers->location, " two spaces");
  EXPECT_EQ(headers->content_length, 2u);
}

TEST(HeaderBlock, WhatFramesTheBodyAndKeepsTheConnection) {
  struct expected {
    const char* block;
    bool length, conflicting, encoded, chunked, close, keep_alive;
  };
  for (const auto& e : std::vector<expected>{
           {"\r\n", false, false, false, false, false, false},
           {"Content-Length: 3\r\ncontent-length: 3\r\n\r\n", true, false, false, false, false,
            false},
           {"Content-Length: 3\r\nContent-Length: 4\r\n\r\n", true, true, false, false, false,
            false},
           {"Transfer-Encoding: gzip,  Chunked\r\n\r\n", false, false, true, true, false, false},
           {"Transfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n\r\n", false, false, true,
            false, false, false},
           {"Connection: Keep-Alive\r\n\r\n", false, false, false, false, false, true},
           {"Connection: upgrade, close\r\n\r\n", false, false, false, false, true, false},
           {"Connection: closed\r\n\r\n", false, false, false, false, false, false},
       }) {
    const auto headers = parse_header_block(e.block);
    ASSERT_TRUE(headers) << e.block;
    EXPECT_EQ(headers->has_content_length, e.length) << e.block;
    EXPECT_EQ(headers->conflicting_lengths, e.conflicting) << e.block;
    EXPECT_EQ(headers->transfer_encoding, e.encoded) << e.block;
    EXPECT_EQ(headers->chunked, e.chunked) << e.block;
    EXPECT_EQ(headers->connection_close, e.close) << e.block;
    EXPECT_EQ(headers->connection_keep_alive, e.keep_alive) << e.block;
  }
}

TEST(HeaderBlock, RefusesDeviations) {
  for (const char* text : {
           "Content-Length:5\r\n\r\n",    // no space after the colon
           "Content-Length:\t5\r\n\r\n",  // tab instead of the space
           "Content-Length: 5\n\r\n",     // bare LF
           "Content-Length: 5\r\n\n",     // bare LF as the empty line
           "Content Length: 5\r\n\r\n",   // blank in the name
           "Content/Length: 5\r\n\r\n",   // separator in the name
           ": 5\r\n\r\n",                 // no name
           " continued\r\n\r\n",          // continuation without a header
           "X: a\x01z\r\n\r\n",           // control byte in the value
           "X: a\r\n",                    // no empty line
           "X: a\r\n\r\nbody",            // bytes after the block
           "",
       })
    EXPECT_FALSE(parse_header_block(text)) << text;
}

TEST(ContentLength, ReadsLikeAtoi) {
  EXPECT_EQ(parse_content_length("123"), 123u);
  EXPECT_EQ(parse_content_length("  7"), 7u);
  EXPECT_EQ(parse_content_length("+8"), 8u);
  EXPECT_EQ(parse_content_length("12abc"), 12u);
  EXPECT_EQ(parse_content_length("abc"), 0u);
  EXPECT_EQ(parse_content_length(""), 0u);
  EXPECT_EQ(parse_content_length("-1"), SIZE_MAX);
  EXPECT_EQ(parse_content_length("99999999999"), 99999999999u);
  EXPECT_GT(parse_content_length("999999999999999999999999"), 1000000000000000000u)
      << "saturates rather than wrapping";
}

}  // namespace
}  // namespace tamro::http
