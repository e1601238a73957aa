// GETs through a proxy, a scripted server on 127.0.0.1 playing it: an http address goes with its
// whole address as the target and the proxy's credentials; an https address through a CONNECT
// tunnel, with the credentials in the CONNECT only and TLS with the site inside; a tunnel the
// proxy refuses ends the exchange with the proxy's answer.
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
using test::Answer;
using test::GetHead;

// Base64 of "ana:segredo".
const std::string kCredentials = "Proxy-Authorization: Basic YW5hOnNlZ3JlZG8=\r\n";

class ProxyRoute : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("SSL_CERT_FILE", test::SharedCertificates().CaFile().c_str(), 1);
  }
  // The client sends everything to `proxy` (with credentials), but localhost straight.
  void Through(const S& proxy) {
    http_.SetIOHandler(&handler_);
    http_.OnSelectProxy = [&proxy](TIdCustomHTTP&, const TIdURI& address,
                                   TIdProxyConnectionInfo& params) {
      params.ProxyServer = address.HostName == "localhost" ? "" : "127.0.0.1";
      params.ProxyPort = uint16_t(proxy.Port());
      params.ProxyUsername = "ana";
      params.ProxyPassword = "segredo";
      params.BasicAuthentication = true;
    };
  }
  std::string Get(const std::string& url) {
    std::string text;
    http_.GetPage(url, text);
    return text;
  }
  TIdSSLIOHandlerSocket handler_;
  TIdHTTP http_;
};

TEST_F(ProxyRoute, HttpGoesWithTheWholeAddressAndOneConnectionServesEverySite) {
  S proxy({{S::ExpectHead(), S::Send(Answer("200 OK", "one")), S::ExpectHead(),
            S::Send(Answer("200 OK", "two")), S::AwaitClose()}});
  Through(proxy);
  EXPECT_EQ(Get("http://letras.invalid:8080/ana/t1.html?x=1#top"), "one");
  EXPECT_EQ(http_.Request().Route, TIdHTTPRouteKind::rkProxy);
  EXPECT_EQ(Get("http://outro.invalid/t2.html"), "two");
  http_.DisconnectFromPeer();
  ASSERT_TRUE(proxy.WaitDone());
  EXPECT_EQ(proxy.Failures(), std::vector<std::string>{});
  EXPECT_EQ(
      proxy.Received(0),
      GetHead("letras.invalid:8080", "http://letras.invalid:8080/ana/t1.html?x=1", kCredentials) +
          GetHead("outro.invalid", "http://outro.invalid/t2.html", kCredentials));
}

TEST_F(ProxyRoute, HttpsGoesThroughATunnelWithTheCredentialsOutsideIt) {
  const auto& certs = test::SharedCertificates();
  S proxy({{S::ExpectHead(), S::Send("HTTP/1.1 200 Connection established\r\n\r\n"),
            S::StartTls(certs.Trusted()), S::ExpectHead(), S::Send(Answer("200 OK", "secret")),
            S::ExpectHead(), S::Send(Answer("200 OK", "again")), S::AwaitClose()}});
  Through(proxy);
  EXPECT_EQ(Get("https://127.0.0.1:9443/a.html"), "secret");
  EXPECT_EQ(http_.Request().Route, TIdHTTPRouteKind::rkSecureProxy);
  EXPECT_EQ(Get("https://127.0.0.1:9443/b.html"), "again");
  EXPECT_EQ(handler_.Handshakes(), 1) << "the tunnel is kept for the same site";
  http_.DisconnectFromPeer();
  ASSERT_TRUE(proxy.WaitDone());
  EXPECT_EQ(proxy.Failures(), std::vector<std::string>{});
  EXPECT_EQ(proxy.Received(0),
            "CONNECT 127.0.0.1:9443 HTTP/1.1\r\nHost: 127.0.0.1:9443\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Lirenta)\r\n" +
                kCredentials + "\r\n" + GetHead("127.0.0.1:9443", "/a.html") +
                GetHead("127.0.0.1:9443", "/b.html"));
  EXPECT_TRUE(proxy.SawCloseAlert(0));
}

TEST_F(ProxyRoute, RefusedTunnelEndsWithTheProxysAnswerAndTheStraightRouteStillServes) {
  S proxy({{S::ExpectHead(),
            S::Send("HTTP/1.0 407 Proxy Authentication Required\r\n"
                    "Proxy-Authenticate: Basic realm=\"proxy\"\r\nConnection: close\r\n\r\nno"),
            S::Close()}});
  S site({{S::ExpectHead(), S::Send(Answer("200 OK", "straight")), S::AwaitClose()}});
  Through(proxy);
  std::string text = "before";
  const auto refusal = test::FailureOf<EIdHTTPProtocolException>(
      [&] { http_.GetPage("https://127.0.0.1:9443/a.html", text); }, 0, "", "");
  EXPECT_EQ(refusal.ReplyCode, 407);
  EXPECT_EQ(refusal.Message, "HTTP/1.0 407 Proxy Authentication Required");
  EXPECT_EQ(refusal.ReplyBody, "no");
  EXPECT_EQ(text, "before");
  EXPECT_EQ(handler_.Handshakes(), 0);
  EXPECT_FALSE(http_.IsConnected());
  EXPECT_EQ(Get("http://localhost:" + std::to_string(site.Port()) + "/b.html"), "straight");
  EXPECT_EQ(http_.Request().Route, TIdHTTPRouteKind::rkDirect);
}

}  // namespace
