// Cookies and the in-memory cookie store.
//
// The store keeps cookies under a key of domain + path, keys in the order they were first used,
// and under each key the cookies in the order they arrived. A cookie goes back only to the host
// that set it, or, when the server named a domain, to that domain and the hosts below it; an
// IPv4 host only ever gets the cookies it set itself. Nothing is written to disk.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/DateTime.h"

class TIdURI;

// The fields of a "Set-cookie" value as the original Netscape form has them.
class TIdNetscapeCookie {
 public:
  TIdNetscapeCookie() = default;
  virtual ~TIdNetscapeCookie() = default;
  TIdNetscapeCookie(const TIdNetscapeCookie&) = delete;
  TIdNetscapeCookie& operator=(const TIdNetscapeCookie&) = delete;

  // Reads a header value into the fields; nothing happens when `text` equals SourceText.
  void ParseSetCookie(std::string_view text);
  // The cookie as a server would set it again: name=value and its attributes.
  virtual std::string ServerText() const;
  // True when a cookie of this domain may be set by `host`.
  bool MatchesHost(std::string_view host) const;
  // True when this cookie may be sent to `host` (the domain match of the store).
  bool SendsTo(std::string_view host) const;

  std::string SourceText;
  std::string NameText;
  std::string ValueText;
  std::string PathText;
  std::string DomainText;
  std::string ExpiresText;
  bool IsSecure = false;
  // False when the server named a domain: the cookie then also goes to the hosts below it.
  bool HostOnly = true;
  int KindLevel = 0;
  int64_t MaxAgeSeconds = -1;
  std::string VersionText;
  std::string CommentText;

 protected:
  // The value parts of a "Set-cookie" header, attribute names upper-cased.
  struct Attributes {
    std::vector<std::string> names;   // "" for a part without "="
    std::vector<std::string> values;  // the whole part, upper-cased, when it has no "="
    // First value named `name` (ignoring case); false when none.
    bool Find(std::string_view name, std::string& value) const;
    bool HasFlag(std::string_view flag) const;
  };
  virtual void ReadAttributes(const Attributes& attributes);
};

// Made for "Set-cookie".
class TIdCookieRFC2109 : public TIdNetscapeCookie {
 public:
  TIdCookieRFC2109() { KindLevel = 1; }
  std::string ServerText() const override;

 protected:
  void ReadAttributes(const Attributes& attributes) override;
};

// Made for "Set-cookie2".
class TIdCookieRFC2965 : public TIdCookieRFC2109 {
 public:
  TIdCookieRFC2965() { KindLevel = 2; }

  std::string CommentUrlText;
  bool IsDiscard = false;
  std::vector<int32_t> PortNumbers;

 protected:
  void ReadAttributes(const Attributes& attributes) override;
};

// The cookies stored under one key, unsorted; names compare without regard to case.
class TIdCookieList {
 public:
  int Count() const { return int(cookies_.size()); }
  TIdNetscapeCookie& operator[](int index) const { return *cookies_[std::size_t(index)]; }
  int IndexOfName(std::string_view name) const;
  void Add(std::unique_ptr<TIdNetscapeCookie> cookie) { cookies_.push_back(std::move(cookie)); }
  void Delete(int index) { cookies_.erase(cookies_.begin() + index); }

 private:
  std::vector<std::unique_ptr<TIdNetscapeCookie>> cookies_;
};

// The cookie objects with their index of keys (domain + path, compared ignoring case).
class TIdCookies {
 public:
  int KeyCount() const { return int(index_.size()); }
  const std::string& KeyAt(int index) const { return index_[std::size_t(index)].key; }
  TIdCookieList& ListAt(int index) const { return *index_[std::size_t(index)].list; }
  int IndexOfKey(std::string_view key) const;
  // The list of `key`, appended to the index when the key is new.
  TIdCookieList& ListFor(std::string_view key);
  // All cookies, in key order then arrival order.
  int CookieCount() const;

 private:
  struct Entry {
    std::string key;
    std::unique_ptr<TIdCookieList> list;
  };
  std::vector<Entry> index_;
};

class TIdCookieManager {
 public:
  // Asked for every admitted cookie before it is stored; false drops it.
  using TNewCookieEvent = std::function<bool(TIdCookieManager& sender, TIdNetscapeCookie& cookie)>;

  // Cookies the store keeps at most, as common browsers do for one site: every stored cookie
  // rides on every later request, and a server must not be able to grow those without bound.
  // A new cookie beyond it is dropped; stored ones can still be changed.
  static constexpr int kMaxStoredCookies = 180;

  TIdCookieManager() = default;
  ~TIdCookieManager();
  TIdCookieManager(const TIdCookieManager&) = delete;
  TIdCookieManager& operator=(const TIdCookieManager&) = delete;

  // A "Set-cookie" value received from `host`. Raises only for a quoted "Port" of "Set-cookie2"
  // that holds a non-number (EConvertError).
  void AddCookie(std::string_view headerValue, std::string_view host);
  // A "Set-cookie2" value received from `host`.
  void AddCookie2(std::string_view headerValue, std::string_view host);
  // The "Cookie" header value for a request to `address`; empty when no cookie matches.
  std::string CookieTextFor(const TIdURI& address, bool secure);
  std::string CookieTextFor(std::string_view hostName, std::string_view dirPath, bool secure);
  // Removes the cookies whose expiry date has passed.
  void DropExpired();

  const TIdCookies& Cookies() const { return cookies_; }

  TNewCookieEvent OnNewCookie;
  std::function<void(TIdCookieManager& sender)> OnDestroy;

 private:
  void AdmitCookie(std::unique_ptr<TIdNetscapeCookie> cookie, std::string_view headerValue,
                   std::string_view host);
  void StoreCookie(std::unique_ptr<TIdNetscapeCookie> cookie);

  // Several readers or one writer over the index.
  std::shared_mutex lock_;
  TIdCookies cookies_;
};

namespace idcookies {

// Four "."-separated decimals 0..255 at the start of `text`; what follows the fourth number is
// not looked at.
bool IsIPv4Address(std::string_view text);

}  // namespace idcookies
