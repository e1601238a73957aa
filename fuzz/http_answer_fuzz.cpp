// A whole HTTP answer read by the GET exchange through a memory peer: status line, headers,
// "100 Continue", sized, chunked and until-close bodies, cookies, refusals, and bytes left over
// for the next request on the same connection. No socket is ever touched.
//
// Input: one control part, then the peer's bytes (separators included). Control byte bits
// 0-1: how the bytes arrive (one piece, one byte per receive, pieces of 2-17 bytes); bits 2-3:
// what the peer does after them (closes, stays silent, fails with a reset); bits 4-7: the
// piece size.
//
// When the control part's second byte is "B", the rest is not an answer but a body: the target
// wraps it in a well-formed 200 answer (third control byte: sized, chunked or until close;
// fourth: the chunk size; fifth, bit 0: a "100 Continue" first), follows it with a second
// answer, and requires both bodies to arrive byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "http/IdIOHandlerMemory.h"
#include "runtime/Exception.h"

namespace {

// The Windows Sockets number of a connection reset by the peer.
constexpr int32_t kConnectionReset = 10054;

// Every CR is followed by LF and every LF follows a CR, and there is no NUL: a request head the
// answer could not inject anything into.
bool WellFormedHead(const std::string& written) {
  for (std::size_t i = 0; i < written.size(); ++i) {
    char c = written[i];
    if (c == '\0') return false;
    if (c == '\r' && (i + 1 >= written.size() || written[i + 1] != '\n')) return false;
    if (c == '\n' && (i == 0 || written[i - 1] != '\r')) return false;
  }
  return true;
}

void FeedBytes(TIdIOHandlerMemory& peer, const std::string& bytes, unsigned control) {
  switch (control & 3) {
    case 0:
    case 3:
      peer.Feed(bytes);
      break;
    case 1:
      peer.FeedBytewise(bytes);
      break;
    case 2: {
      const std::size_t piece = 2 + ((control >> 4) & 15);
      for (std::size_t at = 0; at < bytes.size(); at += piece) peer.Feed(bytes.substr(at, piece));
      break;
    }
  }
}

void FeedPeer(TIdIOHandlerMemory& peer, const std::string& bytes, unsigned control) {
  FeedBytes(peer, bytes, control);
  switch ((control >> 2) & 3) {
    case 0:
    case 3:
      peer.FeedClose();
      break;
    case 1:
      break;  // silent: every further wait times out at once
    case 2:
      peer.FeedError(kConnectionReset);
      break;
  }
}

enum class BodyForm { Sized, Chunked, UntilClose };

std::string Chunked(const std::string& body, std::size_t chunkSize) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::size_t at = 0; at < body.size(); at += chunkSize) {
    const std::string chunk = body.substr(at, chunkSize);
    std::string size;
    for (std::size_t n = chunk.size(); n > 0; n /= 16) size.insert(size.begin(), kHex[n % 16]);
    out += size + "\r\n" + chunk + "\r\n";
  }
  return out + "0\r\n\r\n";
}

// A well-formed answer around `body`, then a second one, each body required intact.
void CheckWellFormedAnswers(const std::string& control, const std::string& body) {
  const unsigned code = control.size() > 0 ? static_cast<unsigned char>(control[0]) : 0;
  const auto form =
      static_cast<BodyForm>((control.size() > 2 ? static_cast<unsigned char>(control[2]) : 0) % 3);
  const std::size_t chunkSize =
      1 + (control.size() > 3 ? static_cast<unsigned char>(control[3]) : 0);
  const bool continueFirst = control.size() > 4 && (control[4] & 1);

  std::string answer = continueFirst ? "HTTP/1.1 100 Continue\r\n\r\n" : "";
  switch (form) {
    case BodyForm::Sized:
      answer +=
          "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
      break;
    case BodyForm::Chunked:
      answer += "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + Chunked(body, chunkSize);
      break;
    case BodyForm::UntilClose:
      answer += "HTTP/1.0 200 OK\r\n\r\n" + body;
      break;
  }
  const std::string second = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond";

  TIdIOHandlerMemory peer;
  FeedBytes(peer, answer, code);
  if (form == BodyForm::UntilClose) peer.FeedClose();
  FeedBytes(peer, second, code);
  peer.FeedClose();
  TIdHTTP http;
  http.SetIOHandler(&peer);
  std::string text;
  http.GetPage("http://host/artist/song.html", text);
  fuzz::Check(text == body, "the body arrives byte for byte", text);
  http.GetPage("http://host/artist/song-cifrada.html", text);
  fuzz::Check(text == "second", "the next answer follows on the connection", text);
  fuzz::Check(peer.ConnectCount == (form == BodyForm::UntilClose ? 2 : 1),
              "a kept connection is reused");
}

// One GET; returns false when the exchange failed other than by a refused answer.
bool Exchange(TIdHTTP& http, TIdIOHandlerMemory& peer, const std::string& url) {
  const std::size_t writtenBefore = peer.Written.size();
  std::string text = "before";
  try {
    http.GetPage(url, text);
    const int32_t code = http.Response().StatusCode();
    // Besides a 2xx answer only an authentication challenge that was answered ends normally.
    fuzz::Check((code >= 200 && code < 300) || code == 401 || code == 407,
                "only a 2xx answer returns normally", http.Response().StatusLine);
    return true;
  } catch (const EIdHTTPProtocolException& e) {
    fuzz::Check(e.ReplyCode == http.Response().StatusCode(), "a refused answer carries its code",
                http.Response().StatusLine);
    return true;
  } catch (const Exception& e) {
    // A failure after the request went out must not leave the rest of the answer readable.
    if (peer.Written.size() > writtenBefore)
      fuzz::Check(!peer.Connected(), "a failed exchange closes the connection", e.Message);
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::FuzzInput input(data, size);
  const std::string controlPart = input.Next();
  const unsigned control = controlPart.empty() ? 0 : static_cast<unsigned char>(controlPart[0]);
  const std::string bytes = input.Rest();
  if (controlPart.size() > 1 && controlPart[1] == 'B') {
    CheckWellFormedAnswers(controlPart, bytes);
    return 0;
  }

  TIdIOHandlerMemory peer;
  FeedPeer(peer, bytes, control);
  TIdHTTP http;
  http.SetIOHandler(&peer);

  // The second request reads what the first answer left on the connection, or connects anew.
  if (Exchange(http, peer, "http://host/artist/song.html"))
    Exchange(http, peer, "http://host/artist/song-cifrada.html");
  fuzz::Check(WellFormedHead(peer.Written), "the request heads are well formed", peer.Written);
  fuzz::Check(peer.ConnectCount <= 2, "at most one connect per request");
  return 0;
}
