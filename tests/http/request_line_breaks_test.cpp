// The request head is checked for CR, LF and NUL eight bytes at a time. These cases put each of
// the three, and each other control character, at every position of a header value up to well
// past two words, so that every byte of a word and the tail after the last word are covered.
#include <gtest/gtest.h>

#include <string>

#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "http/IdIOHandlerMemory.h"
#include "tests/support/Failures.h"

namespace {

using test::MessageOf;

constexpr const char* kUnsafe = "Invalid line break or NUL character in request.";
const std::string kAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

TEST(RequestLineBreaks, EachOfCrLfAndNulAtEveryPositionIsRefused) {
  for (const char bad : {'\r', '\n', '\0'}) {
    for (std::size_t length = 1; length <= 40; ++length) {
      for (std::size_t at = 0; at < length; ++at) {
        TIdIOHandlerMemory peer;
        TIdHTTP http;
        http.SetIOHandler(&peer);
        std::string agent(length, 'a');
        agent[at] = bad;
        agent.front() = at == 0 ? bad : 'A';  // a value starts with a letter unless it is bad
        http.Request().UserAgent = agent;
        std::string text;
        ASSERT_EQ(MessageOf<EIdException>([&] { http.GetPage("http://host/a.html", text); }),
                  kUnsafe)
            << int(bad) << " at " << at << " of " << length;
        ASSERT_EQ(peer.Written, "");
      }
    }
  }
}

TEST(RequestLineBreaks, OtherControlCharactersPassAtEveryPosition) {
  TIdIOHandlerMemory peer;
  TIdHTTP http;
  http.SetIOHandler(&peer);
  std::string text;
  for (int c = 1; c < 0x20; ++c) {
    if (c == '\r' || c == '\n') continue;
    for (std::size_t at = 1; at < 20; ++at) {
      std::string agent(20, 'a');
      agent[at] = char(c);
      http.Request().UserAgent = agent;
      peer.Written.clear();
      peer.Feed(kAnswer);
      http.GetPage("http://host/a.html", text);
      ASSERT_NE(peer.Written.find("User-Agent: " + agent + "\r\n"), std::string::npos)
          << c << " at " << at;
    }
  }
}

TEST(RequestLineBreaks, TargetAndHostAreCheckedToo) {
  for (std::size_t at = 0; at < 24; ++at) {
    std::string path = "/" + std::string(23, 'p');
    path[at] = '\0';
    if (at == 0) continue;  // a NUL first would leave no path
    TIdIOHandlerMemory peer;
    TIdHTTP http;
    http.SetIOHandler(&peer);
    std::string text;
    ASSERT_EQ(MessageOf<EIdException>([&] { http.GetPage("http://host" + path, text); }), kUnsafe)
        << at;
    ASSERT_EQ(peer.Written, "");
  }
}

}  // namespace
