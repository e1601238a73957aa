// The HTTP/1.1 GET exchange: one request and its answer over a TCP connection that stays open
// from one call to the next while the server allows it.
//
// An exchange: prepare the target from the address (merged into the current one) -> connect
// when needed (a 1 ms look first notices a server that closed the idle connection) -> send the
// request head in one go -> read the status line and headers (skipping "100 Continue") ->
// store cookies -> decide: read the body of a 2xx answer, follow a redirect when asked to,
// refuse everything else with an EIdHTTPProtocolException that carries the refused answer's
// status line and body.
//
// Routes: straight to the site (plain, or TLS through the installed TLS handler), or through
// the proxy that ProxyParams names (OnSelectProxy may set it for each request): an http
// address goes to the proxy with the whole address as its target, an https address through a
// CONNECT tunnel in which TLS then runs with the site as on the straight route.
//
// Invariants:
// - Nothing is sent for an address or header value holding CR, LF or NUL.
// - An exchange that fails after its request was sent, with anything but a refused answer,
//   closes the connection: the rest of that answer must never be read as the next one.
// - A body longer than kMaxBodySize fails the exchange and closes the connection.
// - A request that went out on a kept connection and met a close or a reset before any byte
//   of an answer is sent once more on a fresh connection: the server dropped the idle
//   connection as the request crossed it, and a GET may safely be asked again.
// - Proxy credentials go to the proxy only: in the CONNECT request of a tunnel, never inside it.
// - With AnswerTimeout set, every request's answer is whole within that time of its sending,
//   or the exchange fails with EIdAnswerTimeout.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/IdCookieManager.h"
#include "http/IdHeaderList.h"
#include "http/IdTCPConnection.h"
#include "http/IdURI.h"

enum class TIdHTTPProtocolVersion { pv1_0, pv1_1 };

// The options of a client.
struct TIdHTTPOptions {
  // A 401 or 407 answer that offers a known scheme is taken up at once: the authorization
  // events start from yes, and the same address is asked again with the credentials.
  bool hoInProcessAuth = false;
  // Only 301, 302, 303, 307 and 308 carrying a Location are redirects; every other answer is
  // taken as if it carried no Location (a 2xx with one is the page, a 300 is refused).
  bool hoRedirectStatusesOnly = false;
};

// How a request reaches its server: rkDirect for http, rkSecure for https through a TLS I/O
// handler (TIdSSLIOHandlerSocket, installed with SetIOHandler); through a proxy, rkProxy for
// http and rkSecureProxy for https (a CONNECT tunnel, which also needs the TLS handler).
enum class TIdHTTPRouteKind { rkDirect, rkSecure, rkProxy, rkSecureProxy };

// What the exchange does after an answer.
// nxRefused: the answer was refused and read whole; the exchange ends with that refusal.
enum class TIdHTTPNext { nxFollow, nxDone, nxUnknown, nxAuthRetry, nxRefused };

class TIdHTTPRequest : public TIdRequestHeaderInfo {
 public:
  std::string Target;
  std::string Verb = "GET";
  const std::string* Source = nullptr;  // a request body; none for GET
  TIdHTTPRouteKind Route = TIdHTTPRouteKind::rkDirect;
};

class TIdHTTPResponse : public TIdResponseHeaderInfo {
 public:
  // The number after the first blank of StatusLine; -1 when there is none.
  int32_t StatusCode() const;

  std::string StatusLine;
  std::string* BodyStream = nullptr;  // receives the body; bytes are appended
  // The last exchange's body ended before its Content-Length: the server closed first, and the
  // body holds the bytes that came.
  bool BodyCut = false;
};

class TIdHTTPProtocol {
 public:
  TIdHTTPRequest Request;
  TIdHTTPResponse Response;
};

class TIdCustomHTTP : public TIdTCPClient {
 public:
  // Largest body an answer may have: the pages are small, and a server must not be able to
  // make the client hold an unbounded amount of memory.
  static constexpr int64_t kMaxBodySize = 64 * 1024 * 1024;
  // Limits on reading the body of a refused answer and of a redirect, in ms.
  static constexpr int32_t kRefusedBodyTimeout = 2000;
  static constexpr int32_t kDrainBodyTimeout = 4000;

  // (sender, location, verb, hop count, answer): may change all but the hop count.
  using TIdHTTPRedirectEvent = std::function<void(TIdCustomHTTP& sender, std::string& location,
                                                  std::string& verb, int hopCount, bool& handled)>;
  // (sender, authentication object, answer).
  using TIdHTTPAuthorizationEvent =
      std::function<void(TIdCustomHTTP& sender, TIdAuthentication& authentication, bool& handled)>;
  // (sender, the address about to be asked, the proxy settings): sets the proxy that carries
  // this request, or empties its ProxyServer for the straight route.
  using TIdHTTPSelectProxyEvent = std::function<void(TIdCustomHTTP& sender, const TIdURI& address,
                                                     TIdProxyConnectionInfo& proxy)>;

  TIdCustomHTTP();
  ~TIdCustomHTTP() override;

  // The exchange; the body of a 2xx answer is appended to `bodyStream`. A refused answer
  // raises EIdHTTPProtocolException.
  void RunExchange(const std::string& verb, const std::string& url, const std::string* source,
                   std::string* bodyStream);
  // The same exchange, but a refused answer returns false instead of raising (every other
  // failure still raises). Refusals are the common outcome of a lookup that tries several
  // addresses; raising one costs more than the rest of its exchange.
  bool TryRunExchange(const std::string& verb, const std::string& url, const std::string* source,
                      std::string* bodyStream);

  TIdHTTPRequest& Request() { return protocol_->Request; }
  TIdHTTPResponse& Response() { return protocol_->Response; }
  // The current address: host, port and directory of the last request.
  TIdURI& CurrentAddress() { return uri_; }
  // The cookie store, made with the first answer while AllowCookies is set; nullptr before.
  TIdCookieManager* CookieManager() const { return cookieManager_.get(); }
  // Whether the connection may carry the next request, judged from the last answer.
  bool ResponseKeepsConnection();
  // The absolute address of the current request (the port left out when it is the scheme's
  // own); the base a redirect's Location is read against, and the target sent to a proxy.
  std::string RequestAddress() const;

  TIdHTTPProtocolVersion ProtocolVersion = TIdHTTPProtocolVersion::pv1_1;
  bool HandleRedirects = false;
  int RedirectMaximum = 15;
  int AuthRetries = 3;
  bool AllowCookies = true;
  TIdHTTPOptions HTTPOptions;
  int32_t ConnectTimeout = 0;  // ms; 0 waits as long as the platform does
  // ms from the sending of a request until its whole answer is in, however steadily its bytes
  // come; 0: no limit (each wait for bytes is still limited by ReadTimeout).
  int32_t AnswerTimeout = 0;
  TIdProxyConnectionInfo ProxyParams;
  int HopCount = 0;

  TIdHTTPRedirectEvent OnRedirect;
  TIdHTTPSelectProxyEvent OnSelectProxy;
  TIdHTTPAuthorizationEvent OnAuthorization;
  TIdHTTPAuthorizationEvent OnProxyAuthorization;

 protected:
  void PrepareTarget();
  TIdHTTPRouteKind SelectRoute();
  TIdHTTPRouteKind SelectProxyRoute();
  // The three below return false when the proxy refused the tunnel: its answer was read whole
  // and is the refusal that ends the exchange.
  bool OpenRoute();
  bool EnsureConnected();
  // OpenRoute and the status line, with the one resend described at the top.
  bool SendAndReadStatusLine(bool& headSent);
  // Asks the proxy on the new connection for a tunnel to the site, then starts TLS in it.
  bool OpenTunnel();
  void SendHead();
  void ReadHeaderBlock();
  void StoreCookies();
  TIdHTTPNext DecideNext();
  bool AskRedirect(std::string& location, std::string& verb);
  bool AskAuthorization();
  bool AskProxyAuthorization();
  // Either of the two above: picks the scheme from `offers` when `auth` has none, asks `event`,
  // and on a yes fills in the credentials (when the object has none) and counts the retry.
  bool AskCredentials(std::unique_ptr<TIdAuthentication>& auth, const TIdHeaderList& offers,
                      const TIdHTTPAuthorizationEvent& event, const std::string& username,
                      const std::string& password);
  // Reads the refused answer's body and keeps the refusal for the end of the exchange.
  TIdHTTPNext RefuseResponse();
  void DrainBody();
  void ReadBody();
  // The size of the next chunk; 0 for a line that is not a hexadecimal number.
  int64_t ReadChunkSize();
  // Drops what the body stream got from this answer, closes the connection and raises.
  [[noreturn]] void RaiseBodyTooLarge(std::size_t bodyStart);

  std::unique_ptr<TIdHTTPProtocol> protocol_;
  TIdURI uri_;
  // The address of the request being prepared.
  TIdURI parsed_;
  std::unique_ptr<TIdCookieManager> cookieManager_;
  // The refusal that ended the last exchange (set by RefuseResponse).
  struct Refusal {
    int32_t code = 0;
    std::string statusLine;
    std::string body;
  };
  Refusal refusal_;
  // The last request went out on a connection kept from an earlier exchange.
  bool reusedConnection_ = false;
  // The connection goes to a proxy; through a tunnel to tunnel_ ("host:port") when that is set.
  bool viaProxy_ = false;
  std::string tunnel_;
  // The request head being sent; kept so that its memory serves every request.
  std::string head_;
};

class TIdHTTP : public TIdCustomHTTP {
 public:
  // GET of `url`. On a normal return a 2xx answer arrived and `text` holds its body, byte for
  // byte. Whatever body bytes arrived also reach `text` when the exchange fails; without any,
  // `text` keeps what it held.
  void GetPage(const std::string& url, std::string& text);
  // As GetPage, but a refused answer (404 and the like) returns false instead of raising.
  bool TryGetPage(const std::string& url, std::string& text);
  // GET of `url`, the body appended to `stream`.
  void GetToStream(const std::string& url, std::string& stream);
};
