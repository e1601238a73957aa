// Cookies: reading "Set-cookie" and "Set-cookie2" values, admitting them for the host that sent
// them, the "Cookie" text for a request, and the server text of each stored cookie.
//
// Input parts, repeated: a header value, the host that sent it, a kind byte (odd: Set-cookie2),
// the host and directory of a later request.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "http/IdCookieManager.h"
#include "http/IdURI.h"
#include "runtime/Exception.h"

namespace {

// Enough rounds to store, replace and send several cookies; more only slows the fuzzer.
constexpr int kMaxRounds = 8;

void ReadAlone(const std::string& value) {
  TIdNetscapeCookie netscape;
  netscape.ParseSetCookie(value);
  (void)netscape.ServerText();
  TIdCookieRFC2109 rfc2109;
  rfc2109.ParseSetCookie(value);
  (void)rfc2109.ServerText();
  TIdCookieRFC2965 rfc2965;
  try {
    rfc2965.ParseSetCookie(value);
  } catch (const EConvertError&) {
    return;  // a quoted "Port" that holds a non-number
  }
  (void)rfc2965.ServerText();
  // Reading the same text again changes nothing.
  std::string name = rfc2965.NameText, path = rfc2965.PathText;
  rfc2965.ParseSetCookie(value);
  fuzz::Check(rfc2965.NameText == name && rfc2965.PathText == path,
              "reading the same text twice is harmless");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::FuzzInput input(data, size);
  TIdCookieManager manager;
  int offered = 0;
  for (int round = 0; round < kMaxRounds && !input.Empty(); ++round) {
    const std::string value = input.Next();
    const std::string host = input.Next();
    const unsigned kind = input.NextByte();
    const std::string requestHost = input.Next();
    const std::string requestDir = input.Next();

    ReadAlone(value);
    // A quoted "Port" that holds a non-number raises from either header: a plain "Set-cookie"
    // that replaces a stored "Set-cookie2" cookie is read by the stored cookie's own rules.
    try {
      if (kind & 1)
        manager.AddCookie2(value, host);
      else
        manager.AddCookie(value, host);
    } catch (const EConvertError&) {
    }
    ++offered;
    fuzz::Check(manager.Cookies().CookieCount() <= offered, "at most one cookie per header");

    const bool secure = kind & 2;
    std::string text = manager.CookieTextFor(requestHost, requestDir, secure);
    if (manager.Cookies().CookieCount() == 0)
      fuzz::Check(text.empty(), "no cookie text from an empty store", text);

    // Only a cookie with a value and a path that may go over this connection is ever sent.
    if (!text.empty()) {
      bool sendable = false;
      for (int k = 0; k < manager.Cookies().KeyCount(); ++k) {
        TIdCookieList& list = manager.Cookies().ListAt(k);
        for (int i = 0; i < list.Count(); ++i)
          sendable |= !list[i].ValueText.empty() && !list[i].PathText.empty() &&
                      (secure || !list[i].IsSecure);
      }
      fuzz::Check(sendable, "cookie text only from a sendable cookie", text);
    }
    TIdURI address("http://" + requestHost + "/" + requestDir);
    (void)manager.CookieTextFor(address, secure);
    if (kind & 4) manager.DropExpired();
  }

  for (int k = 0; k < manager.Cookies().KeyCount(); ++k) {
    TIdCookieList& list = manager.Cookies().ListAt(k);
    for (int i = 0; i < list.Count(); ++i) {
      (void)list[i].ServerText();
      fuzz::Check(list.IndexOfName(list[i].NameText) >= 0, "a stored cookie is found by name");
    }
  }
  return 0;
}
