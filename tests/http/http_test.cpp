// The GET exchange against a scripted server on 127.0.0.1 (and, where the wire needs port 80
// or a huge body, against a memory peer).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "http/IdIOHandlerMemory.h"
#include "tests/support/Failures.h"
#include "tests/support/ScriptedServer.h"

namespace {

using test::ScriptedServer;
using Ms = std::chrono::milliseconds;
using S = ScriptedServer;

const std::string kAccept = "Accept: text/html, */*\r\n";
const std::string kAgent = "User-Agent: Mozilla/3.0 (compatible; Lirenta)\r\n";

std::string Url(const ScriptedServer& server, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(server.Port()) + path;
}

// The request head the client must send for `target` to `server`.
std::string Head(const ScriptedServer& server, const std::string& target,
                 const std::string& extraLines = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
         "\r\n" + kAccept + kAgent + extraLines + "\r\n";
}

std::string Answer(const std::string& status, const std::string& body,
                   const std::string& extraHeaders = "") {
  return "HTTP/1.1 " + status + "\r\n" + extraHeaders +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Runs `action` and returns the refused answer it raised.
struct Refusal {
  int32_t code = 0;
  std::string message, body;
  bool raised = false;
};
Refusal RefusalOf(const std::function<void()>& action) {
  Refusal r;
  try {
    action();
  } catch (const EIdHTTPProtocolException& e) {
    r = {e.ReplyCode, e.Message, e.ReplyBody, true};
  }
  return r;
}

using test::MessageOf;

void ExpectNoFailures(ScriptedServer& server) {
  for (const std::string& f : server.Failures()) ADD_FAILURE() << f;
}

// --- the request on the wire ---------------------------------------------------------------

TEST(HttpRequest, ExactBytesOfAGet) {
  ScriptedServer server({{S::ExpectHead(), S::Send(Answer("200 OK", "x")), S::AwaitClose()}});
  {
    TIdHTTP http;
    std::string text;
    http.GetPage(Url(server, "/artist/song-title.html"), text);
    EXPECT_EQ(text, "x");
  }
  ASSERT_TRUE(server.WaitDone());
  ExpectNoFailures(server);
  EXPECT_EQ(server.Received(0), Head(server, "/artist/song-title.html"));
}

TEST(HttpRequest, HostNamesThePortUnlessItIsWrittenAs80) {
  struct Case {
    const char* url;
    const char* host;
    int32_t port;
  } cases[] = {
      {"http://host/a.html", "host", 80},
      {"http://host:80/a.html", "host", 80},
      {"http://host:0080/a.html", "host:0080", 80},
      {"http://host:8080/a.html", "host:8080", 8080},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    TIdIOHandlerMemory peer;
    peer.Feed(Answer("200 OK", "ok"));
    TIdHTTP http;
    http.SetIOHandler(&peer);
    std::string text;
    http.GetPage(c.url, text);
    EXPECT_EQ(peer.Written, std::string("GET /a.html HTTP/1.1\r\nHost: ") + c.host + "\r\n" +
                                kAccept + kAgent + "\r\n");
    EXPECT_EQ(peer.LastHost, "host");
    EXPECT_EQ(peer.LastPort, c.port);
    EXPECT_EQ(peer.SendCalls, 1);  // the whole head in one send
  }
}

TEST(HttpRequest, AddressBytesPassUnchanged) {
  TIdIOHandlerMemory peer;
  peer.Feed(Answer("200 OK", "ok"));
  TIdHTTP http;
  http.SetIOHandler(&peer);
  std::string text;
  http.GetPage("http://host/trio-flor-e-caf\xE9/can\xE7\xE3o do\tmar%20.html?x=1#frag", text);
  EXPECT_EQ(peer.Written.substr(0, peer.Written.find("\r\n")),
            "GET /trio-flor-e-caf\xE9/can\xE7\xE3o do\tmar%20.html?x=1 HTTP/1.1");
}

TEST(HttpRequest, LineBreakOrNulInTheAddressFailsBeforeAnythingIsSent) {
  const std::string bad[] = {
      "http://host/a\r\nX-Injected: 1\r\n.html",
      "http://host/a\n.html",
      "http://host/a\r.html",
      std::string("http://host/a\0b.html", 20),
      "http://host\r\nX: y/a.html",
  };
  for (const std::string& url : bad) {
    TIdIOHandlerMemory peer;
    TIdHTTP http;
    http.SetIOHandler(&peer);
    std::string text = "before";
    EXPECT_EQ(MessageOf<EIdException>([&] { http.GetPage(url, text); }),
              "Invalid line break or NUL character in request.");
    EXPECT_EQ(peer.ConnectCount, 0);
    EXPECT_EQ(peer.Written, "");
    EXPECT_EQ(text, "before");
    // The client stays usable.
    peer.Feed(Answer("200 OK", "fine"));
    http.GetPage("http://host/ok.html", text);
    EXPECT_EQ(text, "fine");
  }
}

TEST(HttpRequest, LineBreakInACookieValueIsNotSent) {
  TIdIOHandlerMemory peer;
  peer.Feed(Answer("200 OK", "ok", "Set-Cookie: a=1\rX-Injected: 1; path=/\r\n"));
  TIdHTTP http;
  http.SetIOHandler(&peer);
  std::string text;
  http.GetPage("http://host/a.html", text);
  peer.Written.clear();
  EXPECT_EQ(MessageOf<EIdException>([&] { http.GetPage("http://host/b.html", text); }),
            "Invalid line break or NUL character in request.");
  EXPECT_EQ(peer.Written, "");
}

TEST(HttpRequest, CookieLineComesLastAndAuthorizationAfterA401OfferingBasic) {
  const std::string offerBasic = "WWW-Authenticate: Basic realm=\"letras\"\r\n";
  ScriptedServer server(
      {{S::ExpectHead(), S::Send(Answer("200 OK", "one", "Set-Cookie: a=1; path=/\r\n")),
        S::ExpectHead(), S::Send(Answer("401 Unauthorized", "who?", offerBasic)), S::ExpectHead(),
        S::Send(Answer("200 OK", "three")), S::AwaitClose()}});
  std::string received;
  {
    TIdHTTP http;
    std::string text;
    http.GetPage(Url(server, "/a/one.html"), text);
    Refusal r = RefusalOf([&] { http.GetPage(Url(server, "/a/two.html"), text); });
    EXPECT_EQ(r.code, 401);
    EXPECT_EQ(r.message, "HTTP/1.1 401 Unauthorized");
    EXPECT_EQ(r.body, "who?");
    http.GetPage(Url(server, "/a/three.html"), text);
    EXPECT_EQ(text, "three");
  }
  ASSERT_TRUE(server.WaitDone());
  ExpectNoFailures(server);
  EXPECT_EQ(server.Accepted(), 1);
  EXPECT_EQ(server.Received(0),
            Head(server, "/a/one.html") + Head(server, "/a/two.html", "Cookie: a=1\r\n") +
                Head(server, "/a/three.html", "Authorization: Basic Og==\r\nCookie: a=1\r\n"));
}

// --- answers that succeed ------------------------------------------------------------------

TEST(HttpAnswer, ContentLengthBodyAndTheConnectionStaysOpen) {
  ScriptedServer server({{S::ExpectHead(), S::Send(Answer("200 OK", "hello")), S::ExpectHead(),
                          S::Send(Answer("200 OK", "again")), S::ExpectHead(),
                          S::SendPieces(Answer("200 OK", "third"), 3, Ms(1)), S::AwaitClose()}});
  {
    TIdHTTP http;
    std::string text;
    http.GetPage(Url(server, "/1.html"), text);
    EXPECT_EQ(text, "hello");
    EXPECT_TRUE(http.IsConnected());
    http.GetPage(Url(server, "/2.html"), text);
    EXPECT_EQ(text, "again");
    http.GetPage(Url(server, "/3.html"), text);
    EXPECT_EQ(text, "third");
  }
  ASSERT_TRUE(server.WaitDone());
  ExpectNoFailures(server);
  EXPECT_EQ(server.Accepted(), 1);  // one connection carried all three
  EXPECT_EQ(server.Received(0),
            Head(server, "/1.html") + Head(server, "/2.html") + Head(server, "/3.html"));
}

TEST(HttpAnswer, ChunkedBodyWholeAndOneByteAtATime) {
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
      "5\r\nhello\r\n3\r\nabc\r\n0\r\n\r\n";
  ScriptedServer server(
      {{S::ExpectHead(), S::Send(chunked), S::ExpectHead(), S::SendPieces(chunked, 1, Ms(0)),
        S::ExpectHead(), S::Send(Answer("200 OK", "after")), S::AwaitClose()}});
  {
    TIdHTTP http;
    std::vector<std::string> status;
    http.OnStatus = [&](TIdStatus, const std::string& text) { status.push_back(text); };
    std::string text;
    http.GetPage(Url(server, "/c.html"), text);
    EXPECT_EQ(text, "helloabc");
    text.clear();
    http.GetPage(Url(server, "/c.html"), text);
    EXPECT_EQ(text, "helloabc");
    http.GetPage(Url(server, "/d.html"), text);  // nothing of the chunks was left behind
    EXPECT_EQ(text, "after");
    EXPECT_EQ(std::count(status.begin(), status.end(), "Chunk Started"), 2);
  }
  ASSERT_TRUE(server.WaitDone());
  ExpectNoFailures(server);
  EXPECT_EQ(server.Accepted(), 1);
}

TEST(HttpAnswer, ChunkSizeWithExtensionEndsTheBody) {
  TIdIOHandlerMemory peer;
  peer.Feed(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
      "3\r\nabc\r\n1a;name=value\r\n\r\n");
  TIdHTTP http;
  http.SetIOHandler(&peer);
  std::string text;
  http.GetPage("http://host/a.html", text);
  EXPECT_EQ(text, "abc");
}

TEST(HttpAnswer, BodyUntilCloseAndTheNextCallConnectsAgain) {
  ScriptedServer server({
      {S::ExpectHead(), S::Send("HTTP/1.0 200 OK\r\nServer: old\r\n\r\nuntil "),
       S::SendPieces("the end", 2, Ms(2)), S::Close()},
      {S::ExpectHead(), S::Send(Answer("200 OK", "second")), S::AwaitClose()},
  });
  {
    TIdHTTP http;
    std::string text;
    http.GetPage(Url(server, "/a.html"), text);
    EXPECT_EQ(text, "until the end");
    EXPECT_FALSE(http.IsConnected());
    http.GetPage(Url(server, "/b.html"), text);
    EXPECT_EQ(text, "second");
  }
  ASSERT_TRUE(server.WaitDone());
  ExpectNoFailures(server);
  EXPECT_EQ(server.Accepted(), 2);
}

TEST(HttpAnswer, NoContentKeepsTheCallersText) {
  ScriptedServer server({{S::ExpectHead(), S::Send("HTTP/1.1 204 No Content\r\n\r\n"),
                          S::ExpectHead(), S::Send(Answer("200 OK", "")), S::AwaitClose()}});
  TIdHTTP http;
  std::string text = "previous";
  http.GetPage(Url(server, "/a.html"), text);
  EXPECT_EQ(text, "previous");
  http.GetPage(Url(server, "/b.html"), text);  // an empty 200 body also leaves it
  EXPECT_EQ(text, "previous");
  EXPECT_TRUE(http.IsConnected());
}

TEST(HttpAnswer, ContinueAnswerIsSkipped) {
  ScriptedServer server(
      {{S::ExpectHead(), S::Send("HTTP/1.1 100 Continue\r\n\r\n" + Answer("200 OK", "real")),
        S::AwaitClose()}});
  TIdHTTP http;
  std::string text;
  http.GetPage(Url(server, "/a.html"), text);
  EXPECT_EQ(text, "real");
  EXPECT_EQ(http.Response().StatusCode(), 200);
}

TEST(HttpAnswer, StatusLineWithoutReason) {
  ScriptedServer server(
      {{S::ExpectHead(), S::Send("HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nok"), S::AwaitClose()}});
  TIdHTTP http;
  std::string text;
  http.GetPage(Url(server, "/a.html"), text);
  EXPECT_EQ(text, "ok");
}

TEST(HttpAnswer, ExtraBytesAfterABodyStartTheNextAnswer) {
  ScriptedServer server(
      {{S::ExpectHead(), S::Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789HTTP/"),
        S::ExpectHead(), S::Send("1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"), S::AwaitClose()}});
  TIdHTTP http;
  std::string text;
  http.GetPage(Url(server, "/a.html"), text);
  EXPECT_EQ(text, "0123456789");
  http.GetPage(Url(server, "/b.html"), text);
  EXPECT_EQ(text, "abc");
}

TEST(HttpAnswer, ConnectionCloseHeaderEndsTheConnection) {
  ScriptedServer server({
      {S::ExpectHead(), S::Send(Answer("200 OK", "one", "Connection: close\r\n")), S::AwaitClose()},
      {S::ExpectHead(), S::Send(Answer("200 OK", "two")), S::AwaitClose()},
  });
  {
    TIdHTTP http;
    std::string text;
    http.GetPage(Url(server, "/a.html"), text);
    EXPECT_FALSE(http.IsConnected());
    http.GetPage(Url(server, "/b.html"), text);
    EXPECT_EQ(text, "two");
  }
  ASSERT_TRUE(server.WaitDone());
  ExpectNoFailures(server);
  EXPECT_EQ(server.Accepted(), 2);
}

TEST(HttpAnswer, AnotherServerClosesTheFirstConnection) {
  ScriptedServer first({{S::ExpectHead(), S::Send(Answer("200 OK", "a")), S::AwaitClose()}});
  ScriptedServer second({{S::ExpectHead(), S::Send(Answer("200 OK", "b")), S::AwaitClose()}});
  TIdHTTP http;
  std::string text;
  http.GetPage(Url(first, "/a.html"), text);
  http.GetPage(Url(second, "/b.html"), text);
  EXPECT_EQ(text, "b");
  EXPECT_TRUE(first.WaitDone());  // it saw the close
  ExpectNoFailures(first);
}

TEST(HttpAnswer, FollowsARedirectWhenAskedTo) {
  ScriptedServer server(
      {{S::ExpectHead(), S::Send(Answer("302 Found", "old body", "Location: /new/page.html\r\n")),
        S::ExpectHead(), S::Send(Answer("200 OK", "new body")), S::AwaitClose()}});
  {
    TIdHTTP http;
    http.HandleRedirects = true;
    std::string text;
    http.GetPage(Url(server, "/old/page.html"), text);
    EXPECT_EQ(text, "new body");  // nothing of the redirect's own body
    EXPECT_EQ(http.HopCount, 2);
  }
  ASSERT_TRUE(server.WaitDone());
  ExpectNoFailures(server);
  EXPECT_EQ(server.Received(0), Head(server, "/old/page.html") + Head(server, "/new/page.html"));
}

TEST(HttpAnswer, InProcessAuthenticationRetriesWithTheAddressCredentials) {
  const std::string offerBasic = "WWW-Authenticate: Basic realm=\"letras\"\r\n";
  ScriptedServer server({{S::ExpectHead(), S::Send(Answer("401 Unauthorized", "no", offerBasic)),
                          S::ExpectHead(), S::Send(Answer("200 OK", "welcome")), S::AwaitClose()}});
  {
    TIdHTTP http;
    http.HTTPOptions.hoInProcessAuth = true;
    std::string text;
    http.GetPage("http://user:pw@127.0.0.1:" + std::to_string(server.Port()) + "/a.html", text);
    EXPECT_EQ(text, "welcome");
  }
  ASSERT_TRUE(server.WaitDone());
  ExpectNoFailures(server);
  EXPECT_EQ(
      server.Received(0),
      Head(server, "/a.html") + Head(server, "/a.html", "Authorization: Basic dXNlcjpwdw==\r\n"));
}

// --- answers that are refused --------------------------------------------------------------

TEST(HttpRefusal, RedirectIsRefusedWithoutASecondRequest) {
  ScriptedServer server({{S::ExpectHead(),
                          S::Send(Answer("301 Moved Permanently", "<a>moved</a>",
                                         "Location: http://127.0.0.1:1/elsewhere.html\r\n")),
                          S::AwaitClose()}});
  {
    TIdHTTP http;
    std::string text = "kept";
    Refusal r = RefusalOf([&] { http.GetPage(Url(server, "/old.html"), text); });
    ASSERT_TRUE(r.raised);
    EXPECT_EQ(r.code, 301);
    EXPECT_EQ(r.message, "HTTP/1.1 301 Moved Permanently");
    EXPECT_EQ(r.body, "<a>moved</a>");
    EXPECT_EQ(text, "kept");
  }
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Accepted(), 1);
  EXPECT_EQ(server.Received(0), Head(server, "/old.html"));
}

TEST(HttpRefusal, SuccessCarryingALocationIsRefused) {
  ScriptedServer server(
      {{S::ExpectHead(), S::Send(Answer("200 OK", "body", "Location: /x.html\r\n")),
        S::AwaitClose()}});
  TIdHTTP http;
  std::string text;
  Refusal r = RefusalOf([&] { http.GetPage(Url(server, "/a.html"), text); });
  EXPECT_EQ(r.code, 200);
  EXPECT_EQ(r.message, "HTTP/1.1 200 OK");
  EXPECT_EQ(r.body, "body");
  EXPECT_EQ(text, "");
}

TEST(HttpRefusal, NotFoundCarriesItsBodyAndTheConnectionIsReused) {
  ScriptedServer server({{S::ExpectHead(), S::Send(Answer("404 Not Found", "<h1>no page</h1>")),
                          S::ExpectHead(), S::Send(Answer("200 OK", "found")), S::AwaitClose()}});
  {
    TIdHTTP http;
    std::string text;
    Refusal r = RefusalOf([&] { http.GetPage(Url(server, "/a.html"), text); });
    EXPECT_EQ(r.code, 404);
    EXPECT_EQ(r.message, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(r.body, "<h1>no page</h1>");
    EXPECT_TRUE(http.IsConnected());
    http.GetPage(Url(server, "/a-cifrada.html"), text);
    EXPECT_EQ(text, "found");
  }
  ASSERT_TRUE(server.WaitDone());
  ExpectNoFailures(server);
  EXPECT_EQ(server.Accepted(), 1);
}

TEST(HttpRefusal, TryGetPageReportsARefusalWithoutRaisingAndKeepsTheConnection) {
  ScriptedServer server({{S::ExpectHead(), S::Send(Answer("404 Not Found", "<h1>no page</h1>")),
                          S::ExpectHead(), S::Send(Answer("200 OK", "found")), S::ExpectHead(),
                          S::Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"), S::Close()}});
  {
    TIdHTTP http;
    std::string text = "before";
    EXPECT_FALSE(http.TryGetPage(Url(server, "/a.html"), text));
    EXPECT_EQ(text, "before") << "a refused answer's body is not the page";
    EXPECT_TRUE(http.IsConnected());
    EXPECT_TRUE(http.TryGetPage(Url(server, "/a-cifrada.html"), text));
    EXPECT_EQ(text, "found");
    // Failures other than a refusal still raise.
    EXPECT_THROW(http.TryGetPage(Url(server, "/b.html"), text), EIdException);
  }
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Accepted(), 1);
}

TEST(HttpRefusal, StatusWithoutNumberAndEmptyLineBeforeTheStatus) {
  ScriptedServer server({{S::ExpectHead(), S::Send(Answer("abc", "x")), S::ExpectHead(),
                          S::Send("\r\n" + Answer("200 OK", "ok")), S::AwaitClose()}});
  TIdHTTP http;
  std::string text;
  Refusal r = RefusalOf([&] { http.GetPage(Url(server, "/a.html"), text); });
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.message, "HTTP/1.1 abc");
  // The empty line is taken as the status line; the real one becomes a header line.
  r = RefusalOf([&] { http.GetPage(Url(server, "/b.html"), text); });
  ASSERT_TRUE(r.raised);
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(r.body, "ok");
  EXPECT_EQ(http.Response().HeaderLines[0], "HTTP/1.1 200 OK");
}

TEST(HttpRefusal, ServerErrorAndNotModified) {
  ScriptedServer server(
      {{S::ExpectHead(), S::Send(Answer("500 Internal Server Error", "oops")), S::ExpectHead(),
        S::Send(Answer("304 Not Modified", "")), S::AwaitClose()}});
  TIdHTTP http;
  std::string text;
  EXPECT_EQ(RefusalOf([&] { http.GetPage(Url(server, "/a.html"), text); }).code, 500);
  EXPECT_EQ(RefusalOf([&] { http.GetPage(Url(server, "/a.html"), text); }).code, 304);
}

// --- failures ------------------------------------------------------------------------------

TEST(HttpFailure, AddressesTheClientCannotServe) {
  TIdHTTP http;
  std::string text;
  EXPECT_EQ(MessageOf<EIdUnknownProtocol>([&] { http.GetPage("ftp://host/a.html", text); }), "");
  EXPECT_EQ(MessageOf<EIdIOHandlerPropInvalid>([&] { http.GetPage("https://host/a.html", text); }),
            "IOHandler value is not valid");
  EXPECT_EQ(MessageOf<EConvertError>([&] { http.GetPage("http://host:8o/a.html", text); }),
            "'8o' is not a valid integer value");
  try {
    http.GetPage("http://no-such-host.lirenta.invalid/a.html", text);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.Message, "Socket Error # 11001\r\nHost not found.");
  }
  EXPECT_FALSE(http.IsConnected());
}

TEST(HttpFailure, RefusedConnection) {
  int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size);
  TIdHTTP http;
  std::string text;
  EXPECT_EQ(MessageOf<EIdSocketError>([&] {
              http.GetPage("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/",
                           text);
            }),
            "Socket Error # 10061\r\nConnection refused.");
  ::close(silent);
}

TEST(HttpFailure, ResetWhileWaitingForTheAnswer) {
  ScriptedServer server({{S::ExpectHead(), S::Reset()},
                         {S::ExpectHead(), S::Send(Answer("200 OK", "ok")), S::AwaitClose()}});
  TIdHTTP http;
  std::string text;
  EXPECT_EQ(MessageOf<EIdSocketError>([&] { http.GetPage(Url(server, "/a.html"), text); }),
            "Socket Error # 10054\r\nConnection reset by peer.");
  http.GetPage(Url(server, "/a.html"), text);
  EXPECT_EQ(text, "ok");
}

TEST(HttpFailure, ClosedBeforeTheStatusLineOrInsideAChunkedBody) {
  ScriptedServer server({
      {S::ExpectHead(), S::Send("HTTP/1.1 2"), S::Close()},
      {S::ExpectHead(),
       S::Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n9\r\nhal"),
       S::Close()},
      {S::ExpectHead(), S::Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"), S::Close()},
  });
  TIdHTTP http;
  std::string text;
  EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { http.GetPage(Url(server, "/a"), text); }),
            "Connection Closed Gracefully.");
  EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { http.GetPage(Url(server, "/b"), text); }),
            "Connection Closed Gracefully.");
  EXPECT_EQ(text, "hellohal");  // what arrived reaches the caller
  EXPECT_EQ(MessageOf<EIdException>([&] { http.GetPage(Url(server, "/c"), text); }),
            "Undefined situation");
}

TEST(HttpFailure, BodyCutShortByTheServerEndsWithWhatCame) {
  ScriptedServer server(
      {{S::ExpectHead(), S::Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"), S::Close()}});
  TIdHTTP http;
  std::string text;
  http.GetPage(Url(server, "/a"), text);
  EXPECT_EQ(text, "abc");
}

TEST(HttpFailure, IncompleteErrorBodyTimesOutAfterTwoSeconds) {
  ScriptedServer server({
      {S::ExpectHead(), S::Send("HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\nshort"),
       S::Stall(Ms(6000))},
      {S::ExpectHead(), S::Send(Answer("200 OK", "next")), S::AwaitClose()},
  });
  TIdHTTP http;
  std::string text;
  EXPECT_EQ(MessageOf<EIdReadTimeout>([&] { http.GetPage(Url(server, "/a"), text); }),
            "Read Timeout");
  EXPECT_EQ(http.ReadTimeout, 0);  // restored
  // The half-read answer is dropped with its connection; the next call gets its own answer.
  EXPECT_FALSE(http.IsConnected());
  http.GetPage(Url(server, "/b"), text);
  EXPECT_EQ(text, "next");
}

TEST(HttpFailure, OverlongStatusOrHeaderLine) {
  ScriptedServer server({
      {S::ExpectHead(), S::Send("HTTP/1.1 200 OK\r\nX-Long: " + std::string(16400, 'a') + "\r\n"),
       S::Stall(Ms(3000))},
      {S::ExpectHead(), S::Send(Answer("200 OK", "fresh")), S::AwaitClose()},
  });
  TIdHTTP http;
  std::string text;
  EXPECT_EQ(
      MessageOf<EIdReadLnMaxLineLengthExceeded>([&] { http.GetPage(Url(server, "/a"), text); }),
      "Max line length exceeded.");
  EXPECT_FALSE(http.IsConnected());
  http.GetPage(Url(server, "/b"), text);
  EXPECT_EQ(text, "fresh");
}

// --- the idle connection between calls ----------------------------------------------------

TEST(HttpIdle, ClosedByTheServerBetweenCalls) {
  ScriptedServer server({
      {S::ExpectHead(), S::Send(Answer("200 OK", "one")), S::Close()},
      {S::ExpectHead(), S::Send(Answer("200 OK", "two")), S::AwaitClose()},
  });
  TIdHTTP http;
  std::string text;
  http.GetPage(Url(server, "/a"), text);
  ASSERT_TRUE(server.WaitFinished(1));
  http.GetPage(Url(server, "/b"), text);
  EXPECT_EQ(text, "two");
  EXPECT_EQ(server.Accepted(), 2);
}

TEST(HttpIdle, ResetByTheServerBetweenCalls) {
  ScriptedServer server({
      {S::ExpectHead(), S::Send(Answer("200 OK", "one")), S::Reset()},
      {S::ExpectHead(), S::Send(Answer("200 OK", "two")), S::AwaitClose()},
  });
  TIdHTTP http;
  std::string text;
  http.GetPage(Url(server, "/a"), text);
  ASSERT_TRUE(server.WaitFinished(1));
  ::usleep(20 * 1000);  // let the reset arrive
  // Nothing of the second request had been sent: it goes out on a new connection.
  http.GetPage(Url(server, "/b"), text);
  EXPECT_EQ(text, "two");
  EXPECT_EQ(server.Accepted(), 2);
  EXPECT_EQ(server.Received(1), Head(server, "/b"));
}

// --- time limits ---------------------------------------------------------------------------

TEST(HttpTimeout, SilentServerEndsTheCallAndTheStaleAnswerIsNeverRead) {
  ScriptedServer server({
      {S::ExpectHead(), S::Stall(Ms(600)), S::Send(Answer("200 OK", "stale")), S::Stall(Ms(2000))},
      {S::ExpectHead(), S::Send(Answer("200 OK", "fresh")), S::AwaitClose()},
  });
  TIdHTTP http;
  http.ReadTimeout = 200;
  std::string text;
  EXPECT_EQ(MessageOf<EIdReadTimeout>([&] { http.GetPage(Url(server, "/a"), text); }),
            "Read Timeout");
  EXPECT_FALSE(http.IsConnected());
  ::usleep(700 * 1000);  // the late answer is sent meanwhile
  http.GetPage(Url(server, "/b"), text);
  EXPECT_EQ(text, "fresh");
  EXPECT_EQ(server.Accepted(), 2);
}

TEST(HttpTimeout, ConnectTimeoutOnAServerThatNeverAccepts) {
  // A listener whose accept queue is full never completes further connects.
  int full = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(full, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(full, 0), 0);
  ::getsockname(full, reinterpret_cast<sockaddr*>(&address), &size);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers.push_back(s);
  }
  ::usleep(100 * 1000);

  ScriptedServer good({{S::ExpectHead(), S::Send(Answer("200 OK", "ok")), S::AwaitClose()}});
  TIdHTTP http;
  http.ConnectTimeout = 300;
  std::string text;
  EXPECT_EQ(MessageOf<EIdConnectTimeout>([&] {
              http.GetPage("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/a",
                           text);
            }),
            "Connect timed out.");
  http.GetPage(Url(good, "/a"), text);
  EXPECT_EQ(text, "ok");
  for (int s : fillers) ::close(s);
  ::close(full);
}

// --- the body limit ------------------------------------------------------------------------

TEST(HttpBodyLimit, AnnouncedLengthsPastTheLimitFailWithoutReading) {
  const std::string heads[] = {
      "HTTP/1.1 200 OK\r\nContent-Length: 67108865\r\n\r\nabc",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4000001\r\nabc",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n10000000000000003\r\nab",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\nab",
  };
  for (const std::string& head : heads) {
    SCOPED_TRACE(head.substr(17, 40));
    ScriptedServer server({{S::ExpectHead(), S::Send(head), S::AwaitClose()},
                           {S::ExpectHead(), S::Send(Answer("200 OK", "ok")), S::AwaitClose()}});
    TIdHTTP http;
    std::string text = "before";
    EXPECT_EQ(MessageOf<EIdException>([&] { http.GetPage(Url(server, "/big"), text); }),
              "Response body too large.");
    EXPECT_EQ(text, "before");
    EXPECT_TRUE(server.WaitFinished(1));  // the client closed the connection
    http.GetPage(Url(server, "/small"), text);
    EXPECT_EQ(text, "ok");
  }
}

TEST(HttpBodyLimit, BodyUntilCloseStopsOneBytePastTheLimit) {
  TIdIOHandlerMemory peer;
  peer.Feed("HTTP/1.0 200 OK\r\n\r\n");
  const std::string mebibyte(1 << 20, 'm');
  for (int i = 0; i < 64; ++i) peer.Feed(mebibyte);
  peer.Feed("!!");  // two bytes more than the limit, then the peer would go on
  peer.Feed(mebibyte);
  TIdHTTP http;
  http.SetIOHandler(&peer);
  std::string text;
  EXPECT_EQ(MessageOf<EIdException>([&] { http.GetPage("http://host/big", text); }),
            "Response body too large.");
  EXPECT_EQ(text, "");
  EXPECT_FALSE(peer.Connected());
  EXPECT_GT(peer.Pending(), 0u);  // the rest was never taken
}

TEST(HttpBodyLimit, ChunkedBodyAddingUpPastTheLimitFails) {
  TIdIOHandlerMemory peer;
  peer.Feed("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
  const std::string chunk = "100000\r\n" + std::string(0x100000, 'c') + "\r\n";
  for (int i = 0; i < 64; ++i) peer.Feed(chunk);  // exactly the limit so far
  peer.Feed("1\r\nx\r\n0\r\n\r\n");
  TIdHTTP http;
  http.SetIOHandler(&peer);
  std::string text;
  EXPECT_EQ(MessageOf<EIdException>([&] { http.GetPage("http://host/big", text); }),
            "Response body too large.");
  EXPECT_FALSE(peer.Connected());
}

}  // namespace
