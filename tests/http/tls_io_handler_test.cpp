// GETs over TLS through the TLS I/O handler, against a scripted TLS server on 127.0.0.1 with
// certificates made for the run: the request bytes inside the session, one handshake per kept
// connection, the close alert, and every way a secure connection fails (refused certificates,
// a plain answer to the hello, a stall in the handshake, a reset in a body), each leaving the
// client ready for the next address.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "http/IdSSLIOHandlerSocket.h"
#include "tests/support/Failures.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestCertificates.h"

namespace {

using S = test::ScriptedServer;
using Ms = std::chrono::milliseconds;
using test::MessageOf;

std::string Head(const std::string& host, const S& server, const std::string& target) {
  return test::GetHead(host + ":" + std::to_string(server.Port()), target);
}

std::string Ok(const std::string& body) {
  return test::Answer("200 OK", body);
}

class Tls : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("SSL_CERT_FILE", test::SharedCertificates().CaFile().c_str(), 1);
  }
  void SetUp() override { http_.SetIOHandler(&handler_); }
  std::string Url(const S& server, const std::string& path, const std::string& host = "127.0.0.1") {
    return "https://" + host + ":" + std::to_string(server.Port()) + path;
  }
  const test::TestCertificates& certs_ = test::SharedCertificates();
  TIdSSLIOHandlerSocket handler_;
  TIdHTTP http_;
};

TEST_F(Tls, KeptConnectionCarriesEveryGetAfterOneHandshakeAndClosesWithTheAlert) {
  S server(
      {{S::StartTls(certs_.Trusted()), S::ExpectHead(), S::Send(Ok("hello")), S::ExpectHead(),
        S::Send(Ok("again")), S::AwaitClose()},
       {S::StartTls(certs_.Trusted()), S::ExpectHead(), S::Send(Ok("by name")), S::AwaitClose()}});
  std::string text;
  http_.GetPage(Url(server, "/a.html"), text);
  EXPECT_EQ(text, "hello");
  http_.GetPage(Url(server, "/b.html"), text);
  EXPECT_EQ(text, "again");
  EXPECT_EQ(handler_.Handshakes(), 1);
  // Another host name is another connection; the name goes out for the server to choose its
  // certificate by, and is checked against it.
  http_.GetPage(Url(server, "/c.html", "localhost"), text);
  EXPECT_EQ(text, "by name");
  EXPECT_EQ(handler_.Handshakes(), 2);
  http_.DisconnectFromPeer();
  ASSERT_TRUE(server.WaitDone());
  EXPECT_TRUE(server.Failures().empty()) << server.Failures()[0];
  EXPECT_EQ(server.Received(0),
            Head("127.0.0.1", server, "/a.html") + Head("127.0.0.1", server, "/b.html"));
  EXPECT_EQ(server.Received(1), Head("localhost", server, "/c.html"));
  EXPECT_TRUE(server.SawCloseAlert(0));
  EXPECT_TRUE(server.SawCloseAlert(1));
}

TEST_F(Tls, RefusedCertificatesFailWithTheReasonBeforeAnyByteIsSent) {
  struct Case {
    const test::TlsFiles& files;
    std::string host, message;
  } cases[] = {
      {certs_.UnknownIssuer(), "127.0.0.1",
       "Certificate refused: unable to get local issuer certificate"},
      {certs_.OtherName(), "127.0.0.1", "Certificate refused: IP address mismatch"},
      {certs_.OtherName(), "localhost", "Certificate refused: hostname mismatch"},
      {certs_.Expired(), "127.0.0.1", "Certificate refused: certificate has expired"},
  };
  for (const Case& c : cases) {
    S server(
        {{S::RefusedTls(c.files)},
         {S::StartTls(certs_.Trusted()), S::ExpectHead(), S::Send(Ok("next")), S::AwaitClose()}});
    std::string text = "before";
    EXPECT_EQ(MessageOf<EIdException>([&] { http_.GetPage(Url(server, "/a.html", c.host), text); }),
              c.message);
    EXPECT_EQ(text, "before");
    EXPECT_FALSE(http_.IsConnected());
    http_.GetPage(Url(server, "/a-cifrada.html", c.host), text);
    EXPECT_EQ(text, "next");
    http_.DisconnectFromPeer();
    ASSERT_TRUE(server.WaitDone());
    EXPECT_TRUE(server.Failures().empty()) << c.message << ": " << server.Failures()[0];
    EXPECT_EQ(server.Received(0), "") << c.message;
    EXPECT_EQ(server.Received(1), Head(c.host, server, "/a-cifrada.html"));
  }
}

TEST_F(Tls, BrokenSessionsFailTheirGetAndTheNextConnectionServes) {
  const std::string page = Ok(std::string(4000, 'x'));
  const S::Script next = {S::StartTls(certs_.Trusted()), S::ExpectHead(), S::Send(Ok("next")),
                          S::AwaitClose()};
  struct Case {
    S::Script broken;
    std::string message;
  } cases[] = {
      // A plain server answers the hello with an HTTP error page.
      {{S::Expect(1), S::Send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"), S::Close()},
       "TLS handshake failed: wrong version number"},
      {{S::Expect(1), S::Close()}, "TLS handshake failed: connection closed"},
      // Silence after the hello: the read time limit ends the handshake.
      {{S::Stall(Ms(3000))}, "Read Timeout"},
      {{S::StartTls(certs_.Trusted()), S::ExpectHead(), S::Send(page.substr(0, 1000)), S::Reset()},
       "Socket Error # 10054\r\nConnection reset by peer."},
      {{S::StartTls(certs_.Trusted()), S::ExpectHead(),
        S::Send("HTTP/1.1 200 OK\r\nContent-Length: 70000000\r\n\r\n"), S::AwaitClose()},
       "Response body too large."},
  };
  http_.ReadTimeout = 300;
  for (Case& c : cases) {
    S server({c.broken, next});
    std::string text;
    EXPECT_EQ(MessageOf<EIdException>([&] { http_.GetPage(Url(server, "/a.html"), text); }),
              c.message);
    EXPECT_FALSE(http_.IsConnected()) << c.message;
    http_.GetPage(Url(server, "/a-cifrada.html"), text);
    EXPECT_EQ(text, "next") << c.message;
    http_.DisconnectFromPeer();
    ASSERT_TRUE(server.WaitDone(Ms(10000))) << c.message;
  }
}

TEST_F(Tls, ConnectTimeLimitHoldsDuringTheHandshake) {
  S server({{S::Stall(Ms(3000))}});
  http_.ConnectTimeout = 300;
  std::string text;
  EXPECT_EQ(MessageOf<EIdConnectTimeout>([&] { http_.GetPage(Url(server, "/a.html"), text); }),
            "Connect timed out.");
  EXPECT_FALSE(http_.IsConnected());
}

TEST_F(Tls, PlainAndSecureAddressesOnOneHandlerNeverShareAConnection) {
  S server(
      {{S::ExpectHead(), S::Send(Ok("plain")), S::AwaitClose()},
       {S::StartTls(certs_.Trusted()), S::ExpectHead(), S::Send(Ok("secure")), S::AwaitClose()},
       {S::ExpectHead(), S::Send(Ok("plain again")), S::AwaitClose()}});
  const std::string port = std::to_string(server.Port());
  std::string text;
  http_.GetPage("http://127.0.0.1:" + port + "/a.html", text);
  EXPECT_EQ(text, "plain");
  http_.GetPage(Url(server, "/a.html"), text);
  EXPECT_EQ(text, "secure");
  http_.GetPage("http://127.0.0.1:" + port + "/a.html", text);
  EXPECT_EQ(text, "plain again");
  http_.DisconnectFromPeer();
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Received(0), Head("127.0.0.1", server, "/a.html"));
  EXPECT_EQ(server.Received(2), Head("127.0.0.1", server, "/a.html"));
  EXPECT_EQ(handler_.Handshakes(), 1);
}

}  // namespace
