#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reporting/chunked_decoder.hpp"

namespace tamro::http {
namespace {

struct outcome {
  std::string body;
  bool done = false;
  bool failed = false;
  std::size_t left = 0;  // input bytes not consumed
};

// Feeds the input in pieces of the given size into an output of room bytes at a time.
outcome decode(const std::string& input, std::size_t piece, std::size_t room) {
  chunked_decoder decoder;
  outcome result;
  std::vector<char> out(room);
  std::size_t at = 0;
  while (at < input.size() && !decoder.done() && !decoder.failed()) {
    const auto end = std::min(input.size(), at + piece);
    std::string_view view(input.data() + at, end - at);
    while (!view.empty() && !decoder.done() && !decoder.failed()) {
      std::size_t produced = 0;
      const auto consumed = decoder.decode(view, out.data(), out.size(), produced);
      result.body.append(out.data(), produced);
      if (consumed == 0 && produced == 0) break;
      view.remove_prefix(consumed);
    }
    at = end - view.size();
    if (!view.empty() && !decoder.done() && !decoder.failed()) break;
  }
  result.done = decoder.done();
  result.failed = decoder.failed();
  result.left = input.size() - at;
  return result;
}

TEST(ChunkedDecoder, WellFormedBodiesInAnyPieces) {
  const struct {
    std::string input, body;
  } cases[] = {
      {"5\r\nhello\r\n0\r\n\r\n", "hello"},
      {"3\r\nabc\r\n1a\r\n" + std::string(26, 'x') + "\r\n0\r\n\r\n", "abc" + std::string(26, 'x')},
      {"A;ext=1;q=\"a b\"\r\n0123456789\r\n0;last\r\n\r\n", "0123456789"},
      {"4 ;x\r\nwiki\r\n0\r\nExpires: never\r\nX-B: 2\r\n\r\n", "wiki"},
      {"0\r\n\r\n", ""},
      {"00000F\r\n" + std::string(15, 'f') + "\r\n0\r\n\r\n", std::string(15, 'f')},
  };
  for (const auto& c : cases)
    for (std::size_t piece : {1u, 2u, 7u, 4096u})
      for (std::size_t room : {1u, 3u, 4096u}) {
        const auto result = decode(c.input, piece, room);
        EXPECT_TRUE(result.done) << c.input << " piece " << piece << " room " << room;
        EXPECT_EQ(result.body, c.body) << c.input << " piece " << piece << " room " << room;
      }

  // The end of the body is where the decoder stops: the next response is not its to eat.
  const auto followed = decode("1\r\na\r\n0\r\n\r\nHTTP/1.1", 4096, 4096);
  EXPECT_TRUE(followed.done);
  EXPECT_EQ(followed.left, 8u);
}

TEST(ChunkedDecoder, RefusesBrokenFraming) {
  for (const std::string& input : {
           std::string("\r\n"),                   // no size
           std::string("g\r\n"),                  // not hexadecimal
           std::string("-1\r\n"),                 // sign
           std::string("5\nhello\r\n"),           // bare LF after the size
           std::string("5\r\nhelloX\r\n"),        // data longer than its size
           std::string("5\r\nhello\n0\r\n\r\n"),  // bare LF after the data
           std::string("1;a\x01\r\n"),            // control byte in an extension
           std::string("0\r\nX: a\nb\r\n\r\n"),   // bare LF in a trailer
           std::string("0\r\n\rX"),               // CR without LF at the end
           std::string("1000000000000000\r\n"),   // 16 digits
           "1;" + std::string(chunked_decoder::max_line, 'e') + "\r\n",
           "0\r\nX: " + std::string(chunked_decoder::max_trailers, 't') + "\r\n\r\n",
       }) {
    EXPECT_TRUE(decode(input, 4096, 4096).failed) << input.substr(0, 40);
    EXPECT_TRUE(decode(input, 1, 1).failed) << input.substr(0, 40);
  }
  const auto cut = decode("5\r\nhel", 4096, 4096);
  EXPECT_FALSE(cut.done || cut.failed) << "waits for more";
  EXPECT_EQ(cut.body, "hel");
}

}  // namespace
}  // namespace tamro::http
