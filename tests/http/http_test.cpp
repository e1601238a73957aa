// The GET exchange against a scripted server on 127.0.0.1 (and, where the wire needs port 80
// or a huge body, against a memory peer).
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "http/IdIOHandlerMemory.h"
#include "http/IdIOHandlerSocket.h"
#include "tests/support/Failures.h"
#include "tests/support/ScriptedServer.h"

namespace {

using S = test::ScriptedServer;
using Ms = std::chrono::milliseconds;
using test::Answer;
using test::MessageOf;

// A connection that answers each request head with the next of `answers`, then ends with `last`.
S::Script Answering(const std::vector<std::string>& answers, S::Step last = S::AwaitClose()) {
  S::Script script;
  for (const std::string& answer : answers) {
    script.push_back(S::ExpectHead());
    script.push_back(S::Send(answer));
  }
  script.push_back(last);
  return script;
}

// What a refused answer raised: its code, status line and body.
struct Refused {
  int32_t code;
  std::string status, body;
  bool operator==(const Refused&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Refused& r) {
    return out << r.code << " '" << r.status << "' '" << r.body << "'";
  }
};

// A client against a scripted server that each test starts with its own scripts, or against a
// memory peer.
class Http : public ::testing::Test {
 protected:
  void Serve(std::vector<S::Script> scripts) { server_ = std::make_unique<S>(std::move(scripts)); }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(server_->Port()); }
  std::string Url(const std::string& path) const { return "http://" + HostPort() + path; }
  // The request head the client must send for `target`.
  std::string Head(const std::string& target, const std::string& extraLines = "") const {
    return test::GetHead(HostPort(), target, extraLines);
  }
  // GETs `path` into text_ and returns it.
  const std::string& Get(const std::string& path) {
    http_.GetPage(Url(path), text_);
    return text_;
  }
  Refused Refusal(const std::string& path) {
    auto e = test::FailureOf<EIdHTTPProtocolException>([&] { Get(path); }, 0, "", "");
    return {e.ReplyCode, e.Message, e.ReplyBody};
  }
  // The client's socket, to wait on what the server did to it.
  int ClientSocket() {
    return dynamic_cast<TIdIOHandlerSocket&>(*http_.IOHandler()).Binding()->Handle;
  }
  // Closes the client, waits for every script to end and fails on any step the server missed.
  void Finish(int connections) {
    http_.DisconnectFromPeer();
    EXPECT_TRUE(server_->WaitDone());
    for (const std::string& f : server_->Failures()) ADD_FAILURE() << f;
    EXPECT_EQ(server_->Accepted(), connections);
  }

  // Plays the peer from memory instead: where the wire needs port 80 or a huge body.
  void UseMemoryPeer() { http_.SetIOHandler(&peer_); }

  std::unique_ptr<S> server_;
  TIdIOHandlerMemory peer_;
  TIdHTTP http_;
  std::string text_;
};

class HttpRequest : public Http {};
class HttpAnswer : public Http {};
class HttpRefusal : public Http {};
class HttpFailure : public Http {};
class HttpIdle : public Http {};
class HttpTimeout : public Http {};
class HttpBodyLimit : public Http {};

// --- the request on the wire ---------------------------------------------------------------

TEST_F(HttpRequest, ExactBytesOfAGet) {
  Serve({Answering({Answer("200 OK", "x")})});
  EXPECT_EQ(Get("/artist/song-title.html"), "x");
  Finish(1);
  EXPECT_EQ(server_->Received(0), Head("/artist/song-title.html"));
}

TEST_F(HttpRequest, HostNamesThePortUnlessItIsWrittenAs80) {
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
    EXPECT_EQ(peer.Written, test::GetHead(c.host, "/a.html"));
    EXPECT_EQ(peer.LastHost, "host");
    EXPECT_EQ(peer.LastPort, c.port);
    EXPECT_EQ(peer.SendCalls, 1);  // the whole head in one send
  }
}

TEST_F(HttpRequest, AddressBytesPassUnchanged) {
  UseMemoryPeer();
  peer_.Feed(Answer("200 OK", "ok"));
  http_.GetPage("http://host/trio-flor-e-caf\xE9/can\xE7\xE3o do\tmar%20.html?x=1#frag", text_);
  EXPECT_EQ(peer_.Written.substr(0, peer_.Written.find("\r\n")),
            "GET /trio-flor-e-caf\xE9/can\xE7\xE3o do\tmar%20.html?x=1 HTTP/1.1");
}

TEST_F(HttpRequest, LineBreakOrNulInTheAddressFailsBeforeAnythingIsSent) {
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

TEST_F(HttpRequest, LineBreakInACookieValueIsNotSent) {
  UseMemoryPeer();
  peer_.Feed(Answer("200 OK", "ok", "Set-Cookie: a=1\rX-Injected: 1; path=/\r\n"));
  http_.GetPage("http://host/a.html", text_);
  peer_.Written.clear();
  EXPECT_EQ(MessageOf<EIdException>([&] { http_.GetPage("http://host/b.html", text_); }),
            "Invalid line break or NUL character in request.");
  EXPECT_EQ(peer_.Written, "");
}

TEST_F(HttpRequest, CookieLineComesLastAndAuthorizationAfterA401OfferingBasic) {
  const std::string offerBasic = "WWW-Authenticate: Basic realm=\"letras\"\r\n";
  Serve({Answering({Answer("200 OK", "one", "Set-Cookie: a=1; path=/\r\n"),
                    Answer("401 Unauthorized", "who?", offerBasic), Answer("200 OK", "three")})});
  Get("/a/one.html");
  EXPECT_EQ(Refusal("/a/two.html"), (Refused{401, "HTTP/1.1 401 Unauthorized", "who?"}));
  EXPECT_EQ(Get("/a/three.html"), "three");
  Finish(1);
  EXPECT_EQ(server_->Received(0),
            Head("/a/one.html") + Head("/a/two.html", "Cookie: a=1\r\n") +
                Head("/a/three.html", "Authorization: Basic Og==\r\nCookie: a=1\r\n"));
}

// --- answers that succeed ------------------------------------------------------------------

TEST_F(HttpAnswer, ContentLengthBodyAndTheConnectionStaysOpen) {
  Serve({{S::ExpectHead(), S::Send(Answer("200 OK", "hello")), S::ExpectHead(),
          S::Send(Answer("200 OK", "again")), S::ExpectHead(),
          S::SendPieces(Answer("200 OK", "third"), 3, Ms(1)), S::AwaitClose()}});
  EXPECT_EQ(Get("/1.html"), "hello");
  EXPECT_TRUE(http_.IsConnected());
  EXPECT_EQ(Get("/2.html"), "again");
  EXPECT_EQ(Get("/3.html"), "third");
  Finish(1);  // one connection carried all three
  EXPECT_EQ(server_->Received(0), Head("/1.html") + Head("/2.html") + Head("/3.html"));
}

TEST_F(HttpAnswer, ChunkedBodyWholeAndOneByteAtATime) {
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
      "5\r\nhello\r\n3\r\nabc\r\n0\r\n\r\n";
  Serve({{S::ExpectHead(), S::Send(chunked), S::ExpectHead(), S::SendPieces(chunked, 1, Ms(0)),
          S::ExpectHead(), S::Send(Answer("200 OK", "after")), S::AwaitClose()}});
  std::vector<std::string> status;
  http_.OnStatus = [&](TIdStatus, const std::string& text) { status.push_back(text); };
  EXPECT_EQ(Get("/c.html"), "helloabc");
  text_.clear();
  EXPECT_EQ(Get("/c.html"), "helloabc");
  EXPECT_EQ(Get("/d.html"), "after");  // nothing of the chunks was left behind
  EXPECT_EQ(std::count(status.begin(), status.end(), "Chunk Started"), 2);
  Finish(1);
}

TEST_F(HttpAnswer, ChunkSizeWithExtensionEndsTheBody) {
  UseMemoryPeer();
  peer_.Feed(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
      "3\r\nabc\r\n1a;name=value\r\n\r\n");
  http_.GetPage("http://host/a.html", text_);
  EXPECT_EQ(text_, "abc");
}

TEST_F(HttpAnswer, BodyUntilCloseAndTheNextCallConnectsAgain) {
  Serve({{S::ExpectHead(), S::Send("HTTP/1.0 200 OK\r\nServer: old\r\n\r\nuntil "),
          S::SendPieces("the end", 2, Ms(2)), S::Close()},
         Answering({Answer("200 OK", "second")})});
  EXPECT_EQ(Get("/a.html"), "until the end");
  EXPECT_FALSE(http_.IsConnected());
  EXPECT_EQ(Get("/b.html"), "second");
  Finish(2);
}

TEST_F(HttpAnswer, NoContentKeepsTheCallersText) {
  Serve({Answering({"HTTP/1.1 204 No Content\r\n\r\n", Answer("200 OK", "")})});
  text_ = "previous";
  EXPECT_EQ(Get("/a.html"), "previous");
  EXPECT_EQ(Get("/b.html"), "previous");  // an empty 200 body also leaves it
  EXPECT_TRUE(http_.IsConnected());
}

TEST_F(HttpAnswer, ContinueAnswerIsSkipped) {
  Serve({Answering({"HTTP/1.1 100 Continue\r\n\r\n" + Answer("200 OK", "real")})});
  EXPECT_EQ(Get("/a.html"), "real");
  EXPECT_EQ(http_.Response().StatusCode(), 200);
}

TEST_F(HttpAnswer, StatusLineWithoutReason) {
  Serve({Answering({"HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nok"})});
  EXPECT_EQ(Get("/a.html"), "ok");
}

TEST_F(HttpAnswer, ExtraBytesAfterABodyStartTheNextAnswer) {
  Serve({Answering({"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789HTTP/",
                    "1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"})});
  EXPECT_EQ(Get("/a.html"), "0123456789");
  EXPECT_EQ(Get("/b.html"), "abc");
}

TEST_F(HttpAnswer, ConnectionCloseHeaderEndsTheConnection) {
  Serve({Answering({Answer("200 OK", "one", "Connection: close\r\n")}),
         Answering({Answer("200 OK", "two")})});
  Get("/a.html");
  EXPECT_FALSE(http_.IsConnected());
  EXPECT_EQ(Get("/b.html"), "two");
  Finish(2);
}

TEST_F(HttpAnswer, AnotherServerClosesTheFirstConnection) {
  Serve({Answering({Answer("200 OK", "a")})});
  S second({Answering({Answer("200 OK", "b")})});
  Get("/a.html");
  http_.GetPage("http://127.0.0.1:" + std::to_string(second.Port()) + "/b.html", text_);
  EXPECT_EQ(text_, "b");
  EXPECT_TRUE(server_->WaitDone());  // it saw the close
  for (const std::string& f : server_->Failures()) ADD_FAILURE() << f;
}

TEST_F(HttpAnswer, FollowsARedirectWhenAskedTo) {
  Serve({Answering({Answer("302 Found", "old body", "Location: /new/page.html\r\n"),
                    Answer("200 OK", "new body")})});
  http_.HandleRedirects = true;
  EXPECT_EQ(Get("/old/page.html"), "new body");  // nothing of the redirect's own body
  EXPECT_EQ(http_.HopCount, 2);
  Finish(1);
  EXPECT_EQ(server_->Received(0), Head("/old/page.html") + Head("/new/page.html"));
}

TEST_F(HttpAnswer, OnlyTheFiveRedirectStatusesFollowTheirLocationReadAgainstTheAddressAsked) {
  Serve(
      {Answering({Answer("200 OK", "page", "Location: /x.html\r\n"),
                  Answer("300 Multiple Choices", "choose", "Location: /x.html\r\n"),
                  Answer("301 Moved Permanently", "nowhere"),
                  Answer("308 Permanent Redirect", "", "Location: ../b/./c.html?x=1#top\r\n"),
                  Answer("303 See Other", "", "Location: ?y=2\r\n"), Answer("200 OK", "moved")})});
  http_.HandleRedirects = true;
  http_.HTTPOptions.hoRedirectStatusesOnly = true;
  std::vector<std::string> locations;
  http_.OnRedirect = [&](TIdCustomHTTP&, std::string& location, std::string&, int, bool&) {
    locations.push_back(location);
  };
  EXPECT_EQ(Get("/a.html"), "page");
  EXPECT_EQ(Refusal("/a.html"), (Refused{300, "HTTP/1.1 300 Multiple Choices", "choose"}));
  EXPECT_EQ(Refusal("/a.html"), (Refused{301, "HTTP/1.1 301 Moved Permanently", "nowhere"}));
  EXPECT_EQ(Get("/a/d/e.html"), "moved");
  EXPECT_EQ(http_.HopCount, 3);
  EXPECT_EQ(locations, (std::vector<std::string>{Url("/a/b/c.html?x=1"), Url("/a/b/c.html?y=2")}));
  Finish(1);
  EXPECT_EQ(server_->Received(0), Head("/a.html") + Head("/a.html") + Head("/a.html") +
                                      Head("/a/d/e.html") + Head("/a/b/c.html?x=1") +
                                      Head("/a/b/c.html?y=2"));
}

TEST_F(HttpAnswer, InProcessAuthenticationRetriesWithTheAddressCredentials) {
  const std::string offerBasic = "WWW-Authenticate: Basic realm=\"letras\"\r\n";
  Serve({Answering({Answer("401 Unauthorized", "no", offerBasic), Answer("200 OK", "welcome")})});
  http_.HTTPOptions.hoInProcessAuth = true;
  http_.GetPage("http://user:pw@" + HostPort() + "/a.html", text_);
  EXPECT_EQ(text_, "welcome");
  Finish(1);
  EXPECT_EQ(server_->Received(0),
            Head("/a.html") + Head("/a.html", "Authorization: Basic dXNlcjpwdw==\r\n"));
}

// --- answers that are refused --------------------------------------------------------------

TEST_F(HttpRefusal, RedirectIsRefusedWithoutASecondRequest) {
  Serve({Answering({Answer("301 Moved Permanently", "<a>moved</a>",
                           "Location: http://127.0.0.1:1/elsewhere.html\r\n")})});
  text_ = "kept";
  EXPECT_EQ(Refusal("/old.html"), (Refused{301, "HTTP/1.1 301 Moved Permanently", "<a>moved</a>"}));
  EXPECT_EQ(text_, "kept");
  Finish(1);
  EXPECT_EQ(server_->Received(0), Head("/old.html"));
}

TEST_F(HttpRefusal, SuccessCarryingALocationIsRefused) {
  Serve({Answering({Answer("200 OK", "body", "Location: /x.html\r\n")})});
  EXPECT_EQ(Refusal("/a.html"), (Refused{200, "HTTP/1.1 200 OK", "body"}));
  EXPECT_EQ(text_, "");
}

TEST_F(HttpRefusal, NotFoundCarriesItsBodyAndTheConnectionIsReused) {
  Serve({Answering({Answer("404 Not Found", "<h1>no page</h1>"), Answer("200 OK", "found")})});
  EXPECT_EQ(Refusal("/a.html"), (Refused{404, "HTTP/1.1 404 Not Found", "<h1>no page</h1>"}));
  EXPECT_TRUE(http_.IsConnected());
  EXPECT_EQ(Get("/a-cifrada.html"), "found");
  Finish(1);
}

TEST_F(HttpRefusal, TryGetPageReportsARefusalWithoutRaisingAndKeepsTheConnection) {
  Serve({Answering({Answer("404 Not Found", "<h1>no page</h1>"), Answer("200 OK", "found"),
                    "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"},
                   S::Close())});
  text_ = "before";
  EXPECT_FALSE(http_.TryGetPage(Url("/a.html"), text_));
  EXPECT_EQ(text_, "before") << "a refused answer's body is not the page";
  EXPECT_TRUE(http_.IsConnected());
  EXPECT_TRUE(http_.TryGetPage(Url("/a-cifrada.html"), text_));
  EXPECT_EQ(text_, "found");
  // Failures other than a refusal still raise.
  EXPECT_THROW(http_.TryGetPage(Url("/b.html"), text_), EIdException);
  Finish(1);
}

TEST_F(HttpRefusal, StatusWithoutNumberAndEmptyLineBeforeTheStatus) {
  Serve({Answering({Answer("abc", "x"), "\r\n" + Answer("200 OK", "ok")})});
  EXPECT_EQ(Refusal("/a.html"), (Refused{-1, "HTTP/1.1 abc", "x"}));
  // The empty line is taken as the status line; the real one becomes a header line.
  EXPECT_EQ(Refusal("/b.html"), (Refused{-1, "", "ok"}));
  EXPECT_EQ(http_.Response().HeaderLines[0], "HTTP/1.1 200 OK");
}

TEST_F(HttpRefusal, ServerErrorAndNotModified) {
  Serve({Answering({Answer("500 Internal Server Error", "oops"), Answer("304 Not Modified", "")})});
  EXPECT_EQ(Refusal("/a.html"), (Refused{500, "HTTP/1.1 500 Internal Server Error", "oops"}));
  EXPECT_EQ(Refusal("/a.html"), (Refused{304, "HTTP/1.1 304 Not Modified", ""}));
}

// --- failures ------------------------------------------------------------------------------

TEST_F(HttpFailure, AddressesTheClientCannotServe) {
  auto get = [&](const std::string& url) { return [&, url] { http_.GetPage(url, text_); }; };
  EXPECT_EQ(MessageOf<EIdUnknownProtocol>(get("ftp://host/a.html")), "");
  EXPECT_EQ(MessageOf<EIdIOHandlerPropInvalid>(get("https://host/a.html")),
            "IOHandler value is not valid");
  EXPECT_EQ(MessageOf<EConvertError>(get("http://host:8o/a.html")),
            "'8o' is not a valid integer value");
  EXPECT_EQ(MessageOf<EIdSocketError>(get("http://no-such-host.lirenta.invalid/a.html")),
            "Socket Error # 11001\r\nHost not found.");
  EXPECT_FALSE(http_.IsConnected());
}

TEST_F(HttpFailure, RefusedConnection) {
  test::LoopbackPort refusing(test::LoopbackPort::Kind::Refusing);
  EXPECT_EQ(MessageOf<EIdSocketError>([&] {
              http_.GetPage("http://127.0.0.1:" + std::to_string(refusing.Port()) + "/", text_);
            }),
            "Socket Error # 10061\r\nConnection refused.");
}

TEST_F(HttpFailure, ResetWhileWaitingForTheAnswer) {
  Serve({{S::ExpectHead(), S::Reset()}, Answering({Answer("200 OK", "ok")})});
  EXPECT_EQ(MessageOf<EIdSocketError>([&] { Get("/a.html"); }),
            "Socket Error # 10054\r\nConnection reset by peer.");
  EXPECT_EQ(Get("/a.html"), "ok");
}

TEST_F(HttpFailure, ClosedBeforeTheStatusLineOrInsideAChunkedBody) {
  Serve({Answering({"HTTP/1.1 2"}, S::Close()),
         Answering({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n9\r\nhal"},
                   S::Close()),
         Answering({"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"}, S::Close())});
  EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { Get("/a"); }),
            "Connection Closed Gracefully.");
  EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { Get("/b"); }),
            "Connection Closed Gracefully.");
  EXPECT_EQ(text_, "hellohal");  // what arrived reaches the caller
  EXPECT_EQ(MessageOf<EIdException>([&] { Get("/c"); }), "Undefined situation");
}

TEST_F(HttpFailure, BodyCutShortByTheServerEndsWithWhatCameAndSaysSo) {
  Serve({Answering({"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"}, S::Close()),
         Answering({Answer("200 OK", "whole")})});
  EXPECT_EQ(Get("/a"), "abc");
  EXPECT_TRUE(http_.Response().BodyCut);
  EXPECT_EQ(Get("/b"), "whole");
  EXPECT_FALSE(http_.Response().BodyCut);
}

TEST_F(HttpFailure, IncompleteErrorBodyTimesOutAfterTwoSeconds) {
  Serve({Answering({"HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\nshort"},
                   S::Stall(Ms(6000))),
         Answering({Answer("200 OK", "next")})});
  EXPECT_EQ(MessageOf<EIdReadTimeout>([&] { Get("/a"); }), "Read Timeout");
  EXPECT_EQ(http_.ReadTimeout, 0);  // restored
  // The half-read answer is dropped with its connection; the next call gets its own answer.
  EXPECT_FALSE(http_.IsConnected());
  EXPECT_EQ(Get("/b"), "next");
}

TEST_F(HttpFailure, OverlongStatusOrHeaderLine) {
  Serve({Answering({"HTTP/1.1 200 OK\r\nX-Long: " + std::string(16400, 'a') + "\r\n"},
                   S::Stall(Ms(3000))),
         Answering({Answer("200 OK", "fresh")})});
  EXPECT_EQ(MessageOf<EIdReadLnMaxLineLengthExceeded>([&] { Get("/a"); }),
            "Max line length exceeded.");
  EXPECT_FALSE(http_.IsConnected());
  EXPECT_EQ(Get("/b"), "fresh");
}

// --- the idle connection between calls ----------------------------------------------------

TEST_F(HttpIdle, ClosedOrResetByTheServerBetweenCalls) {
  for (const S::Step& end : {S::Close(), S::Reset()}) {
    SCOPED_TRACE(end.action == S::Action::Close ? "close" : "reset");
    Serve({Answering({Answer("200 OK", "one")}, end), Answering({Answer("200 OK", "two")})});
    Get("/a");
    ASSERT_TRUE(server_->WaitFinished(1));
    // The close or reset has reached the client before its next request.
    ASSERT_TRUE(test::WaitForSocket(ClientSocket(), POLLIN));
    // Nothing of the second request had been sent: it goes out on a new connection.
    EXPECT_EQ(Get("/b"), "two");
    EXPECT_EQ(server_->Accepted(), 2);
    EXPECT_EQ(server_->Received(1), Head("/b"));
    http_.DisconnectFromPeer();
  }
}

// --- time limits ---------------------------------------------------------------------------

TEST_F(HttpTimeout, SilentServerEndsTheCallAndTheStaleAnswerIsNeverRead) {
  Serve(
      {{S::ExpectHead(), S::Stall(Ms(600)), S::Send(Answer("200 OK", "stale")), S::Stall(Ms(2000))},
       Answering({Answer("200 OK", "fresh")})});
  http_.ReadTimeout = 200;
  EXPECT_EQ(MessageOf<EIdReadTimeout>([&] { Get("/a"); }), "Read Timeout");
  EXPECT_FALSE(http_.IsConnected());
  // The late answer has gone out on the abandoned connection before the next request.
  ASSERT_TRUE(server_->WaitFinished(1));
  EXPECT_EQ(Get("/b"), "fresh");
  EXPECT_EQ(server_->Accepted(), 2);
}

TEST_F(HttpTimeout, AnswerTricklingPastItsWholeTimeFailsThoughEveryPieceCameInTime) {
  Serve({{S::ExpectHead(), S::SendPieces(Answer("200 OK", std::string(60, 'x')), 4, Ms(100)),
          S::AwaitClose()},
         Answering({Answer("200 OK", "fresh")})});
  http_.ReadTimeout = 2000;
  http_.AnswerTimeout = 500;
  EXPECT_EQ(MessageOf<EIdAnswerTimeout>([&] { Get("/a"); }), "Read timed out");
  EXPECT_FALSE(http_.IsConnected());
  // Each request has its own time.
  EXPECT_EQ(Get("/b"), "fresh");
}

TEST_F(HttpTimeout, ConnectTimeoutOnAServerThatNeverAccepts) {
  test::LoopbackPort full(test::LoopbackPort::Kind::Full);
  Serve({Answering({Answer("200 OK", "ok")})});
  http_.ConnectTimeout = 300;
  EXPECT_EQ(MessageOf<EIdConnectTimeout>([&] {
              http_.GetPage("http://127.0.0.1:" + std::to_string(full.Port()) + "/a", text_);
            }),
            "Connect timed out.");
  EXPECT_EQ(Get("/a"), "ok");
}

// --- the body limit ------------------------------------------------------------------------

TEST_F(HttpBodyLimit, AnnouncedLengthsPastTheLimitFailWithoutReading) {
  const std::string heads[] = {
      "HTTP/1.1 200 OK\r\nContent-Length: 67108865\r\n\r\nabc",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4000001\r\nabc",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n10000000000000003\r\nab",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\nab",
  };
  for (const std::string& head : heads) {
    SCOPED_TRACE(head.substr(17, 40));
    Serve({Answering({head}), Answering({Answer("200 OK", "ok")})});
    text_ = "before";
    EXPECT_EQ(MessageOf<EIdException>([&] { Get("/big"); }), "Response body too large.");
    EXPECT_EQ(text_, "before");
    EXPECT_TRUE(server_->WaitFinished(1));  // the client closed the connection
    EXPECT_EQ(Get("/small"), "ok");
    Finish(2);
  }
}

TEST_F(HttpBodyLimit, BodyUntilCloseStopsOneBytePastTheLimit) {
  UseMemoryPeer();
  peer_.Feed("HTTP/1.0 200 OK\r\n\r\n");
  const std::string mebibyte(1 << 20, 'm');
  for (int i = 0; i < 64; ++i) peer_.Feed(mebibyte);
  peer_.Feed("!!");  // two bytes more than the limit, then the peer would go on
  peer_.Feed(mebibyte);
  EXPECT_EQ(MessageOf<EIdException>([&] { http_.GetPage("http://host/big", text_); }),
            "Response body too large.");
  EXPECT_EQ(text_, "");
  EXPECT_FALSE(peer_.Connected());
  EXPECT_GT(peer_.Pending(), 0u);  // the rest was never taken
}

TEST_F(HttpBodyLimit, ChunkedBodyAddingUpPastTheLimitFails) {
  UseMemoryPeer();
  peer_.Feed("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
  const std::string chunk = "100000\r\n" + std::string(0x100000, 'c') + "\r\n";
  for (int i = 0; i < 64; ++i) peer_.Feed(chunk);  // exactly the limit so far
  peer_.Feed("1\r\nx\r\n0\r\n\r\n");
  EXPECT_EQ(MessageOf<EIdException>([&] { http_.GetPage("http://host/big", text_); }),
            "Response body too large.");
  EXPECT_FALSE(peer_.Connected());
}

}  // namespace
