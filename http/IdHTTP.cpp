#include "http/IdHTTP.h"

#include <cstring>
#include <exception>
#include <limits>
#include <vector>

#include "http/IdException.h"
#include "http/IdSSLIOHandlerSocket.h"
#include "runtime/Text.h"

namespace {

// A CR, LF or NUL in the request line or a header line would end that line early and let the
// rest of the text pose as further headers or a second request.
constexpr const char* kUnsafeRequestMessage = "Invalid line break or NUL character in request.";
constexpr const char* kBodyTooLargeMessage = "Response body too large.";

bool IsLineBreakOrNul(char c) {
  return c == '\r' || c == '\n' || c == '\0';
}

// Whether the eight bytes at `bytes` hold a CR, LF or NUL. A word with no byte below 0x0E
// (for which the test below is never false) holds none of them; only other words are looked
// at byte by byte.
bool WordHasLineBreakOrNul(const char* bytes) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHighBits = 0x8080808080808080u;
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if (((word - kOnes * 0x0E) & ~word & kHighBits) == 0) return false;
  for (int k = 0; k < 8; ++k)
    if (IsLineBreakOrNul(bytes[k])) return true;
  return false;
}

bool HasLineBreakOrNul(std::string_view text) {
  const char* bytes = text.data();
  const std::size_t size = text.size();
  if (size < 8) {
    for (std::size_t i = 0; i < size; ++i)
      if (IsLineBreakOrNul(bytes[i])) return true;
    return false;
  }
  // Eight bytes at a time; the last word may overlap the one before it.
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8)
    if (WordHasLineBreakOrNul(bytes + i)) return true;
  return i < size && WordHasLineBreakOrNul(bytes + size - 8);
}

// Appends `line` and its CR LF to a request head; raises for a line that would break it.
void AppendHeadLine(std::string& head, std::string_view line) {
  if (HasLineBreakOrNul(line)) throw EIdException(kUnsafeRequestMessage);
  head.append(line);
  head.append("\r\n");
}

// The number of a port text as rt::StrToInt reads it (and raising as it does); a text of
// plain decimal digits, the usual case, is read here directly.
int32_t PortNumber(std::string_view text) {
  constexpr std::size_t kPlainDigits = 9;  // always within int32_t
  if (text.empty() || text.size() > kPlainDigits) return rt::StrToInt(text);
  int32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return rt::StrToInt(text);
    value = value * 10 + (c - '0');
  }
  return value;
}

// The statuses that send a client elsewhere: moved for good or for now, see other, and the two
// that keep the method.
bool IsRedirectStatus(int32_t code) {
  return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

// The port a scheme's addresses have when they name none.
const char* DefaultPortOf(std::string_view scheme) {
  if (rt::SameText(scheme, "http")) return "80";
  if (rt::SameText(scheme, "https")) return "443";
  return "";
}

// Hexadecimal digits the largest chunk size may have (64 bits).
constexpr std::size_t kMaxChunkSizeDigits = 16;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Restores the read time-out and body stream of an exchange when a temporary read ends.
class TemporaryBody {
 public:
  TemporaryBody(TIdCustomHTTP& http, int32_t timeout)
      : http_(http), timeout_(http.ReadTimeout), body_(http.Response().BodyStream) {
    http.ReadTimeout = timeout;
    http.Response().BodyStream = &text;
  }
  ~TemporaryBody() {
    http_.ReadTimeout = timeout_;
    http_.Response().BodyStream = body_;
  }
  TemporaryBody(const TemporaryBody&) = delete;
  TemporaryBody& operator=(const TemporaryBody&) = delete;

  std::string text;

 private:
  TIdCustomHTTP& http_;
  int32_t timeout_;
  std::string* body_;
};

// What an exchange leaves behind when a failure ends it: once a request head went out the
// connection is closed, because the rest of that answer must never be read as the next one.
// (A refused answer is read whole and ends the exchange normally, so it never gets here.)
//
// A guard rather than a catch and rethrow: every rethrow unwinds the stack once more.
class ExchangeFailureCleanup {
 public:
  ExchangeFailureCleanup(TIdCustomHTTP& http, const bool& headSent)
      : http_(http), headSent_(headSent) {}
  ~ExchangeFailureCleanup() {
    if (std::uncaught_exceptions() <= failures_) return;
    try {
      if (headSent_ || !http_.ResponseKeepsConnection()) http_.DisconnectFromPeer();
    } catch (...) {
    }
  }
  ExchangeFailureCleanup(const ExchangeFailureCleanup&) = delete;
  ExchangeFailureCleanup& operator=(const ExchangeFailureCleanup&) = delete;

 private:
  TIdCustomHTTP& http_;
  const bool& headSent_;
  const int failures_ = std::uncaught_exceptions();
};

// Hands the body bytes that arrived to the caller's text on every way out of a GET.
class BodyDelivery {
 public:
  BodyDelivery(std::string& stream, std::string& text) : stream_(stream), text_(text) {}
  ~BodyDelivery() {
    if (!stream_.empty()) text_ = std::move(stream_);
  }
  BodyDelivery(const BodyDelivery&) = delete;
  BodyDelivery& operator=(const BodyDelivery&) = delete;

 private:
  std::string& stream_;
  std::string& text_;
};

}  // namespace

// --- TIdHTTPResponse -----------------------------------------------------------------------

int32_t TIdHTTPResponse::StatusCode() const {
  // The text after the first blank, trimmed, up to the next blank.
  std::string_view rest = StatusLine;
  const std::size_t blank = rest.find(' ');
  rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
  rest = rt::TrimView(rest);
  const std::string_view code = rest.substr(0, rest.find(' '));
  int64_t value;
  if (!idheaders::ReadDecimal(code, value) || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max())
    return -1;
  return int32_t(value);
}

// --- TIdCustomHTTP -------------------------------------------------------------------------

TIdCustomHTTP::TIdCustomHTTP() : protocol_(std::make_unique<TIdHTTPProtocol>()) {
  Port = 80;
}

TIdCustomHTTP::~TIdCustomHTTP() = default;

void TIdCustomHTTP::RunExchange(const std::string& verb, const std::string& url,
                                const std::string* source, std::string* bodyStream) {
  if (!TryRunExchange(verb, url, source, bodyStream))
    throw EIdHTTPProtocolException(refusal_.code, refusal_.statusLine, std::move(refusal_.body));
}

bool TIdCustomHTTP::TryRunExchange(const std::string& verb, const std::string& url,
                                   const std::string* source, std::string* bodyStream) {
  TIdHTTPRequest& request = Request();
  TIdHTTPResponse& response = Response();
  const std::size_t startPos = bodyStream ? bodyStream->size() : 0;
  request.Target = url;
  request.Verb = verb;
  request.Source = source;
  response.BodyStream = bodyStream;
  response.BodyCut = false;
  HopCount = 0;

  auto resetBody = [&] {
    if (response.BodyStream) response.BodyStream->resize(startPos);
  };

  bool headSent = false;
  bool refused = false;
  {
    ExchangeFailureCleanup cleanup(*this, headSent);
    for (bool done = false; !done;) {
      ++HopCount;
      PrepareTarget();
      if (!SendAndReadStatusLine(headSent)) {
        refused = true;  // the proxy refused the tunnel
        break;
      }
      for (;;) {
        ReadHeaderBlock();
        StoreCookies();
        if (response.StatusCode() != 100) break;
        response.StatusLine = ReadLine();
      }

      switch (DecideNext()) {
        case TIdHTTPNext::nxFollow:
          resetBody();
          break;
        case TIdHTTPNext::nxDone:
          done = true;
          break;
        case TIdHTTPNext::nxUnknown:
          throw EIdHTTPUndefinedSituation();
        case TIdHTTPNext::nxAuthRetry:
          --HopCount;
          request.Target = url;
          break;
        case TIdHTTPNext::nxRefused:
          done = true;
          refused = true;
          break;
      }
    }
  }
  if (!ResponseKeepsConnection()) DisconnectFromPeer();
  return !refused;
}

void TIdCustomHTTP::PrepareTarget() {
  TIdHTTPRequest& request = Request();
  if (HasLineBreakOrNul(request.Target)) throw EIdException(kUnsafeRequestMessage);

  // One parsed address serves every request, so that its parts keep their memory.
  TIdURI& parsed = parsed_;
  parsed.Parse(request.Target);
  if (!parsed.AuthUser.empty()) {
    request.Username = parsed.AuthUser;
    request.Password = parsed.AuthPassword;
  }
  uri_.AuthUser = request.Username;
  uri_.AuthPassword = request.Password;

  // An absolute path replaces the directory as it is.
  if (!parsed.DirPath.empty() && parsed.DirPath.front() == '/')
    uri_.DirPath = parsed.DirPath;
  else
    uri_.DirPath = MergePath(uri_.DirPath, parsed.DirPath);
  uri_.DocName = parsed.DocName;
  uri_.QueryPart = parsed.QueryPart;
  if (!parsed.HostName.empty()) uri_.HostName = parsed.HostName;
  if (parsed.SchemeName.empty())
    uri_.SchemeName = "http";
  else
    uri_.SchemeName = parsed.SchemeName;

  if (!parsed.PortText.empty())
    uri_.PortText = parsed.PortText;
  else if (rt::SameText(parsed.SchemeName, "http"))
    uri_.PortText = "80";
  else if (rt::SameText(parsed.SchemeName, "https"))
    uri_.PortText = "443";
  else if (uri_.PortText.empty())
    throw EIdUnknownProtocol();

  request.Target.assign(uri_.DirPath).append(uri_.DocName).append(uri_.QueryPart);
  request.SetContentLength(-1);
  request.Host = uri_.HostName;
  if (uri_.PortText != "80") request.Host.append(":").append(uri_.PortText);
}

std::string TIdCustomHTTP::RequestAddress() const {
  std::string address = uri_.SchemeName;
  address.append("://").append(uri_.HostName);
  if (!uri_.PortText.empty() && uri_.PortText != DefaultPortOf(uri_.SchemeName))
    address.append(":").append(uri_.PortText);
  return address.append(uri_.DirPath).append(uri_.DocName).append(uri_.QueryPart);
}

TIdHTTPRouteKind TIdCustomHTTP::SelectRoute() {
  if (OnSelectProxy) OnSelectProxy(*this, uri_, ProxyParams);
  if (!ProxyParams.ProxyServer.empty()) return SelectProxyRoute();
  if (viaProxy_) {
    if (IsConnected()) DisconnectFromPeer();
    viaProxy_ = false;
  }
  if (!rt::SameText(Host, uri_.HostName) || Port != PortNumber(uri_.PortText)) {
    if (IsConnected()) DisconnectFromPeer();
    Host = uri_.HostName;
    Port = PortNumber(uri_.PortText);
    uri_.PortText = rt::IntToStr(Port);
  }
  // A kept connection of the other kind (plain or TLS) cannot carry this request.
  TIdSSLIOHandlerSocket* secure = IOHandler() ? IOHandler()->Secure() : nullptr;
  const bool https = rt::SameText(uri_.SchemeName, "HTTPS");
  if (https && !secure) throw EIdIOHandlerPropInvalid();
  if (secure) {
    if (IsConnected() && secure->SessionActive() != https) DisconnectFromPeer();
    secure->PassThrough = !https;
    secure->ReadTimeout = ReadTimeout;
  }
  return https ? TIdHTTPRouteKind::rkSecure : TIdHTTPRouteKind::rkDirect;
}

TIdHTTPRouteKind TIdCustomHTTP::SelectProxyRoute() {
  const bool https = rt::SameText(uri_.SchemeName, "HTTPS");
  TIdSSLIOHandlerSocket* secure = IOHandler() ? IOHandler()->Secure() : nullptr;
  if (https && !secure) throw EIdIOHandlerPropInvalid();
  const int32_t port = PortNumber(uri_.PortText);
  // A kept connection serves when it goes to the same proxy the same way: plain proxying, or a
  // tunnel to the same site.
  std::string tunnel;
  if (https) tunnel.append(uri_.HostName).append(":").append(rt::IntToStr(port));
  if (!viaProxy_ || tunnel != tunnel_ || !rt::SameText(Host, ProxyParams.ProxyServer) ||
      Port != ProxyParams.ProxyPort) {
    if (IsConnected()) DisconnectFromPeer();
    Host = ProxyParams.ProxyServer;
    Port = ProxyParams.ProxyPort;
  }
  if (secure) {
    // Plain to the proxy; a tunnel starts its session itself.
    secure->PassThrough = true;
    secure->ReadTimeout = ReadTimeout;
  }
  return https ? TIdHTTPRouteKind::rkSecureProxy : TIdHTTPRouteKind::rkProxy;
}

bool TIdCustomHTTP::OpenRoute() {
  TIdHTTPRequest& request = Request();
  request.Route = SelectRoute();
  if (ProtocolVersion == TIdHTTPProtocolVersion::pv1_0 && request.Connection.empty())
    request.Connection = "keep-alive";
  if (!EnsureConnected()) return false;
  // A proxy is told the whole address.
  if (request.Route == TIdHTTPRouteKind::rkProxy) request.Target = RequestAddress();
  SendHead();
  return true;
}

bool TIdCustomHTTP::OpenTunnel() {
  TIdHTTPRequest& request = Request();
  const std::string authority = uri_.HostName + ":" + rt::IntToStr(PortNumber(uri_.PortText));
  std::string& head = head_;
  head.clear();
  AppendHeadLine(head, "CONNECT " + authority + " HTTP/1.1");
  AppendHeadLine(head, "Host: " + authority);
  if (!request.UserAgent.empty()) AppendHeadLine(head, "User-Agent: " + request.UserAgent);
  TIdHeaderList credentials;
  ProxyParams.AddHeaders(credentials);
  for (const std::string& line : credentials.Lines()) AppendHeadLine(head, line);
  head.append("\r\n");
  try {
    SendBytes(head.data(), head.size(), true);
    SetReadDeadline(AnswerTimeout);
    TIdHTTPResponse& response = Response();
    response.StatusLine = ReadLine();
    ReadHeaderBlock();
    if (response.StatusCode() / 100 != 2) {
      // No tunnel: the proxy's answer ends the exchange, and its connection with it.
      RefuseResponse();
      DisconnectFromPeer();
      return false;
    }
    // A 2xx answer to CONNECT has no body; the site's TLS follows at once.
    static_cast<TIdSSLIOHandlerSocket&>(*IOHandler()).StartSession(uri_.HostName, ConnectTimeout);
  } catch (...) {
    DisconnectFromPeer();
    throw;
  }
  tunnel_ = authority;
  return true;
}

bool TIdCustomHTTP::EnsureConnected() {
  if (!ResponseKeepsConnection()) DisconnectFromPeer();
  try {
    PollPeerClosed(false);
  } catch (const EIdSocketError&) {
    // The server reset the idle connection. Nothing of this exchange was sent yet, so a fresh
    // connection serves it as well.
    DisconnectFromPeer();
  }
  reusedConnection_ = IsConnected();
  if (reusedConnection_) return true;
  ConnectToPeer(ConnectTimeout);
  const TIdHTTPRouteKind route = Request().Route;
  viaProxy_ = route == TIdHTTPRouteKind::rkProxy || route == TIdHTTPRouteKind::rkSecureProxy;
  tunnel_.clear();
  return route != TIdHTTPRouteKind::rkSecureProxy || OpenTunnel();
}

bool TIdCustomHTTP::SendAndReadStatusLine(bool& headSent) {
  // The 1 ms look of EnsureConnected misses a close that is still on its way; one resend
  // covers it, and a fresh connection that fails the same way fails the exchange.
  for (bool resent = false;; resent = true) {
    headSent = false;
    try {
      if (!OpenRoute()) return false;
      headSent = true;
      Response().StatusLine = ReadLine();
      return true;
    } catch (const EIdConnClosedGracefully&) {
      if (resent || !reusedConnection_ || InputQueue.Size() != 0) throw;
    } catch (const EIdSocketError&) {
      if (resent || !reusedConnection_ || InputQueue.Size() != 0) throw;
    }
    DisconnectFromPeer();
  }
}

void TIdCustomHTTP::SendHead() {
  TIdHTTPRequest& request = Request();
  request.ComposeHeaders();
  if (request.Route == TIdHTTPRouteKind::rkProxy) ProxyParams.AddHeaders(request.HeaderLines);
  if (cookieManager_) {
    const std::string cookies = cookieManager_->CookieTextFor(uri_, false);
    if (!cookies.empty()) request.HeaderLines.SetHeader("Cookie", cookies);
  }

  // The whole head is composed in one buffer, kept from request to request, and leaves in one
  // send; nothing is sent when any of its lines would carry a line break or a NUL.
  std::string& head = head_;
  head.clear();
  if (HasLineBreakOrNul(request.Verb) || HasLineBreakOrNul(request.Target))
    throw EIdException(kUnsafeRequestMessage);
  head.append(request.Verb);
  head.push_back(' ');
  head.append(request.Target);
  head.append(ProtocolVersion == TIdHTTPProtocolVersion::pv1_1 ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n");
  for (const std::string& line : request.HeaderLines.Lines())
    if (!line.empty()) AppendHeadLine(head, line);
  head.append("\r\n");

  writeBatch_.reset();
  SendBytes(head.data(), head.size(), true);
  SetReadDeadline(AnswerTimeout);
}

void TIdCustomHTTP::ReadHeaderBlock() {
  TIdHTTPResponse& response = Response();
  response.HeaderLines.Clear();
  try {
    for (std::string line = ReadLine(); !line.empty(); line = ReadLine())
      response.HeaderLines.Add(std::move(line));
  } catch (const EIdConnClosedGracefully&) {
    DisconnectFromPeer();
  }
  response.ReadHeaders();
}

void TIdCustomHTTP::StoreCookies() {
  if (!cookieManager_ && AllowCookies) cookieManager_ = std::make_unique<TIdCookieManager>();
  if (!cookieManager_) return;
  // One pass tells whether the answer sets cookies at all; most answers do not.
  static constexpr std::string_view kCookieHeaders[] = {"Set-cookie", "Set-cookie2"};
  const TIdHeaderList& lines = Response().HeaderLines;
  int first[2];
  lines.IndexHeaders(kCookieHeaders, 2, first);
  std::vector<std::string> values;
  if (first[0] >= 0) lines.CollectValues(kCookieHeaders[0], values);
  for (const std::string& value : values) cookieManager_->AddCookie(value, uri_.HostName);
  values.clear();
  if (first[1] >= 0) lines.CollectValues(kCookieHeaders[1], values);
  for (const std::string& value : values) cookieManager_->AddCookie2(value, uri_.HostName);
}

bool TIdCustomHTTP::ResponseKeepsConnection() {
  if (!IsConnected()) return false;
  const TIdHTTPResponse& response = Response();
  const std::string_view connection = rt::TrimView(response.Connection);
  const std::string_view proxyConnection = rt::TrimView(response.ProxyConnection);
  if (ProtocolVersion == TIdHTTPProtocolVersion::pv1_1)
    return !rt::SameText(connection, "CLOSE") && !rt::SameText(proxyConnection, "CLOSE");
  return rt::SameText(connection, "KEEP-ALIVE") || rt::SameText(proxyConnection, "KEEP-ALIVE");
}

TIdHTTPNext TIdCustomHTTP::DecideNext() {
  TIdHTTPRequest& request = Request();
  TIdHTTPResponse& response = Response();
  const int32_t code = response.StatusCode();
  TIdHTTPNext next = TIdHTTPNext::nxUnknown;

  const bool redirect = HTTPOptions.hoRedirectStatusesOnly
                            ? IsRedirectStatus(code) && !response.Location.empty()
                            : (code / 100 == 3 && code != 304) || !response.Location.empty();
  if (redirect) {
    // A Location relative to the address asked names the address it resolves to.
    std::string location = response.Location.empty()
                               ? std::string()
                               : ResolveReference(RequestAddress(), response.Location);
    std::string verb = request.Verb;
    if (HandleRedirects && HopCount < RedirectMaximum) {
      if (!AskRedirect(location, verb)) return RefuseResponse();
      request.Target = location;
      request.Verb = verb;
      next = TIdHTTPNext::nxFollow;
    } else {
      if (!AskRedirect(location, verb)) return RefuseResponse();
      response.Location = location;
      next = TIdHTTPNext::nxDone;
    }
    if (IsConnected()) DrainBody();
    return next;
  }

  if (code / 100 == 2) {
    if (IsConnected()) {
      if (code != 204) ReadBody();
      next = TIdHTTPNext::nxDone;
    }
    return next;
  }

  if (code == 401 || code == 407) {
    const bool proxy = code == 407;
    std::unique_ptr<TIdAuthentication>& auth = proxy ? ProxyParams.AuthObject : request.AuthObject;
    const int retries = auth ? auth->RetryCount : 0;
    if (retries >= AuthRetries || !(proxy ? AskProxyAuthorization() : AskAuthorization())) {
      if (auth) auth->Reset();
      if (proxy) {
        ProxyParams.ProxyUsername.clear();
        ProxyParams.ProxyPassword.clear();
      }
      return RefuseResponse();
    }
    if (HTTPOptions.hoInProcessAuth) {
      DrainBody();
      return TIdHTTPNext::nxAuthRetry;
    }
    if (IsConnected()) ReadBody();
    return TIdHTTPNext::nxDone;
  }

  return RefuseResponse();
}

bool TIdCustomHTTP::AskRedirect(std::string& location, std::string& verb) {
  bool handled = HandleRedirects;
  if (OnRedirect) OnRedirect(*this, location, verb, HopCount, handled);
  return handled;
}

namespace {

// The first registered scheme offered by `offers` (the first word of each value); only Basic
// is registered.
std::unique_ptr<TIdAuthentication> SelectScheme(const TIdHeaderList& offers) {
  for (const std::string& offer : offers.Lines()) {
    std::string rest = offer;
    if (rt::SameText(SplitAt(rest, " "), "Basic"))
      return std::make_unique<TIdBasicAuthentication>();
  }
  return nullptr;
}

}  // namespace

bool TIdCustomHTTP::AskAuthorization() {
  TIdHTTPRequest& request = Request();
  return AskCredentials(request.AuthObject, Response().WWWAuthenticate, OnAuthorization,
                        request.Username, request.Password);
}

bool TIdCustomHTTP::AskProxyAuthorization() {
  return AskCredentials(ProxyParams.AuthObject, Response().ProxyAuthenticate, OnProxyAuthorization,
                        ProxyParams.ProxyUsername, ProxyParams.ProxyPassword);
}

bool TIdCustomHTTP::AskCredentials(std::unique_ptr<TIdAuthentication>& auth,
                                   const TIdHeaderList& offers,
                                   const TIdHTTPAuthorizationEvent& event,
                                   const std::string& username, const std::string& password) {
  if (!auth) {
    auth = SelectScheme(offers);
    if (!auth) return false;
  }
  bool handled = HTTPOptions.hoInProcessAuth;
  if (event) event(*this, *auth, handled);
  if (handled) {
    if (auth->Username.empty() && auth->Password.empty()) {
      auth->Username = username;
      auth->Password = password;
    }
    ++auth->RetryCount;
  }
  return handled;
}

TIdHTTPNext TIdCustomHTTP::RefuseResponse() {
  const TIdHTTPResponse& response = Response();
  {
    TemporaryBody temporary(*this, kRefusedBodyTimeout);
    ReadBody();
    refusal_.body = std::move(temporary.text);
  }
  refusal_.code = response.StatusCode();
  refusal_.statusLine = response.StatusLine;
  return TIdHTTPNext::nxRefused;
}

void TIdCustomHTTP::DrainBody() {
  TemporaryBody temporary(*this, kDrainBodyTimeout);
  try {
    ReadBody();
  } catch (...) {
    // What is left of this body must not be read as the next answer.
    try {
      DisconnectFromPeer();
    } catch (...) {
    }
  }
}

void TIdCustomHTTP::ReadBody() {
  TIdHTTPResponse& response = Response();
  if (!response.BodyStream) return;
  std::string& stream = *response.BodyStream;
  const std::size_t bodyStart = stream.size();
  response.BodyCut = false;

  if (response.ContentLength() > 0) {
    if (response.ContentLength() > kMaxBodySize) RaiseBodyTooLarge(bodyStart);
    try {
      ReadToStream(stream, response.ContentLength(), false);
    } catch (const EIdConnClosedGracefully&) {
      // A body cut short ends with the bytes that came.
    }
    response.BodyCut = int64_t(stream.size() - bodyStart) < response.ContentLength();
  } else if (FirstPos("chunked", response.HeaderLines.ValueOf("Transfer-Encoding")) > 0) {
    DoStatus(TIdStatus::hsStatusText, "Chunk Started");
    for (int64_t size = ReadChunkSize(); size > 0; size = ReadChunkSize()) {
      if (int64_t(stream.size() - bodyStart) + size > kMaxBodySize) RaiseBodyTooLarge(bodyStart);
      ReadToStream(stream, size, false);
      ReadLine();
    }
    ReadLine();
  } else if (!response.LengthGiven()) {
    // One byte past the limit tells a body at the limit from a longer one.
    ReadToStream(stream, kMaxBodySize + 1, true);
    if (int64_t(stream.size() - bodyStart) > kMaxBodySize) RaiseBodyTooLarge(bodyStart);
  }
}

int64_t TIdCustomHTTP::ReadChunkSize() {
  std::string line = ReadLine();
  const std::string text = SplitAt(line, " ");
  if (text.empty()) return 0;
  for (char c : text)
    if (HexDigit(c) < 0) return 0;
  // A size that does not fit 64 bits, or passes the limit, reads as one byte past the limit.
  const std::size_t first = std::min(text.find_first_not_of('0'), text.size());
  if (text.size() - first > kMaxChunkSizeDigits) return kMaxBodySize + 1;
  uint64_t size = 0;
  for (std::size_t i = first; i < text.size(); ++i) size = size * 16 + uint64_t(HexDigit(text[i]));
  return size > uint64_t(kMaxBodySize) ? kMaxBodySize + 1 : int64_t(size);
}

void TIdCustomHTTP::RaiseBodyTooLarge(std::size_t bodyStart) {
  if (Response().BodyStream) Response().BodyStream->resize(bodyStart);
  DisconnectFromPeer();
  throw EIdException(kBodyTooLargeMessage);
}

// --- TIdHTTP -------------------------------------------------------------------------------

void TIdHTTP::GetToStream(const std::string& url, std::string& stream) {
  RunExchange("GET", url, nullptr, &stream);
}

void TIdHTTP::GetPage(const std::string& url, std::string& text) {
  std::string stream;
  BodyDelivery delivery(stream, text);
  GetToStream(url, stream);
}

bool TIdHTTP::TryGetPage(const std::string& url, std::string& text) {
  std::string stream;
  BodyDelivery delivery(stream, text);
  return TryRunExchange("GET", url, nullptr, &stream);
}
