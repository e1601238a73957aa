#include "http/IdCookieManager.h"

#include <algorithm>
#include <mutex>
#include <optional>

#include "http/IdHeaderList.h"
#include "http/IdURI.h"
#include "runtime/Text.h"

namespace {

// The largest value of one part of a dotted IPv4 address.
constexpr int kMaxIPv4Part = 255;

// Leading decimal digits of `text` as a number <= 255; `used` counts the digits.
bool ReadIPv4Part(std::string_view text, std::size_t& used) {
  used = 0;
  int value = 0;
  while (used < text.size() && text[used] >= '0' && text[used] <= '9') {
    value = value * 10 + (text[used] - '0');
    if (value > kMaxIPv4Part) return false;
    ++used;
  }
  return used > 0;
}

bool EndsWithLabel(std::string_view host, std::string_view domain) {
  // `host` is `domain` or lies below it: "x.a.b" for "a.b", never "xa.b".
  if (rt::SameText(host, domain)) return true;
  return host.size() > domain.size() && host[host.size() - domain.size() - 1] == '.' &&
         rt::SameText(host.substr(host.size() - domain.size()), domain);
}

}  // namespace

namespace idcookies {

bool IsIPv4Address(std::string_view text) {
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t used;
    if (!ReadIPv4Part(text.substr(pos), used)) return false;
    pos += used;
    if (part < 3) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
  }
  return true;
}

}  // namespace idcookies

// --- parsing -----------------------------------------------------------------------------

bool TIdNetscapeCookie::Attributes::Find(std::string_view name, std::string& value) const {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!names[i].empty() && rt::SameText(names[i], name)) {
      value = values[i];
      return true;
    }
  }
  return false;
}

bool TIdNetscapeCookie::Attributes::HasFlag(std::string_view flag) const {
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i].empty() && values[i] == flag) return true;
  return false;
}

void TIdNetscapeCookie::ParseSetCookie(std::string_view text) {
  if (text == SourceText) return;
  SourceText = std::string(text);

  std::vector<std::string> parts;
  if (text.find(';') == std::string_view::npos) {
    parts.emplace_back(text);
  } else {
    std::string rest(text);
    while (rest.find(';') != std::string::npos) parts.push_back(rt::Trim(SplitAt(rest, ";")));
    std::string last = rt::Trim(rest);
    if (!last.empty()) parts.push_back(std::move(last));
  }

  const std::string& first = parts[0];
  const std::size_t eq = first.find('=');
  NameText = eq == std::string::npos ? std::string() : first.substr(0, eq);
  ValueText = eq == std::string::npos ? std::string() : first.substr(eq + 1);

  Attributes attributes;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    const std::size_t at = part.find('=');
    if (at == std::string::npos) {
      attributes.names.emplace_back();
      attributes.values.push_back(rt::UpperCase(part));
    } else {
      attributes.names.push_back(rt::UpperCase(part.substr(0, at)));
      attributes.values.push_back(part.substr(at + 1));
    }
  }
  ReadAttributes(attributes);
}

void TIdNetscapeCookie::ReadAttributes(const Attributes& attributes) {
  std::string value;
  PathText = attributes.Find("PATH", value) ? value : std::string();
  if (!PathText.empty() && PathText.front() == '"') PathText.erase(0, 1);
  if (!PathText.empty() && PathText.back() == '"') PathText.pop_back();
  ExpiresText = attributes.Find("EXPIRES", value) ? value : std::string();
  DomainText = attributes.Find("DOMAIN", value) ? value : std::string();
  IsSecure = attributes.HasFlag("SECURE");
}

void TIdCookieRFC2109::ReadAttributes(const Attributes& attributes) {
  TIdNetscapeCookie::ReadAttributes(attributes);
  std::string value;
  MaxAgeSeconds = -1;
  if (attributes.Find("MAX-AGE", value)) {
    int64_t seconds;
    if (idheaders::ReadDecimal(value, seconds)) MaxAgeSeconds = seconds;
  }
  VersionText = attributes.Find("VERSION", value) ? value : std::string();
  CommentText = attributes.Find("COMMENT", value) ? value : std::string();
  if (ExpiresText.empty()) {
    KindLevel = 0;
    if (MaxAgeSeconds >= 0)
      ExpiresText = LocalToInternetDate(rt::Now() + double(MaxAgeSeconds) / rt::kSecondsPerDay);
  }
}

void TIdCookieRFC2965::ReadAttributes(const Attributes& attributes) {
  TIdCookieRFC2109::ReadAttributes(attributes);
  std::string value;
  CommentUrlText = attributes.Find("COMMENTURL", value) ? value : std::string();
  IsDiscard = attributes.HasFlag("DISCARD");
  if (!attributes.Find("PORT", value) || value.empty()) {
    PortNumbers = {80};
  } else if (value.front() == '"') {
    std::string inner = value.substr(1);
    if (!inner.empty() && inner.back() == '"') inner.pop_back();
    std::vector<int32_t> ports;
    while (!inner.empty()) ports.push_back(rt::StrToInt(SplitAt(inner, ",")));
    PortNumbers = ports.empty() ? std::vector<int32_t>{80} : std::move(ports);
  }
  // An unquoted value leaves the list as it was.
}

// --- server text -------------------------------------------------------------------------

std::string TIdNetscapeCookie::ServerText() const {
  // A cookie without a value writes no name either: its text begins with the attributes.
  std::string text = ValueText.empty() ? std::string() : NameText + "=" + ValueText;
  if (!PathText.empty()) text += "; path=" + PathText;
  // The expiry goes along whatever its origin, so that a cookie taking over a newer one keeps
  // the newer one's expiry.
  if (!ExpiresText.empty()) text += "; expires=" + ExpiresText;
  if (!DomainText.empty()) text += "; domain=" + DomainText;
  if (IsSecure) text += "; secure";
  return text;
}

std::string TIdCookieRFC2109::ServerText() const {
  std::string text = TIdNetscapeCookie::ServerText();
  if (MaxAgeSeconds >= 0 && ExpiresText.empty()) text += "; max-age=" + rt::IntToStr(MaxAgeSeconds);
  if (!CommentText.empty()) text += "; comment=" + CommentText;
  if (!VersionText.empty()) text += "; version=" + VersionText;
  return text;
}

// --- host matching -----------------------------------------------------------------------

bool TIdNetscapeCookie::MatchesHost(std::string_view host) const {
  const std::string_view domain = DomainText;
  if (idcookies::IsIPv4Address(host)) return domain == host;
  if (!host.empty() && host[0] == '.') return rt::SameText(domain, host);
  if ((domain.empty() || domain[0] != '.') && !idcookies::IsIPv4Address(domain)) {
    // A domain without a leading "." is the host itself or a domain the host lies below.
    if (host == domain) return true;
    return host.size() > domain.size() && host[host.size() - domain.size() - 1] == '.' &&
           host.substr(host.size() - domain.size()) == domain;
  }
  const std::size_t dot = host.find('.');
  const std::string_view fromDot = dot == std::string_view::npos ? host : host.substr(dot);
  const std::string_view tail =
      fromDot.size() > domain.size() ? fromDot.substr(fromDot.size() - domain.size()) : fromDot;
  return tail == domain;
}

bool TIdNetscapeCookie::SendsTo(std::string_view host) const {
  if (idcookies::IsIPv4Address(host) || idcookies::IsIPv4Address(DomainText))
    return DomainText == host;
  if (HostOnly) return rt::SameText(DomainText, host);
  std::string_view domain = DomainText;
  if (!domain.empty() && domain[0] == '.') domain.remove_prefix(1);
  return EndsWithLabel(host, domain);
}

// --- the collection ----------------------------------------------------------------------

int TIdCookieList::IndexOfName(std::string_view name) const {
  for (std::size_t i = 0; i < cookies_.size(); ++i)
    if (rt::SameText(cookies_[i]->NameText, name)) return int(i);
  return -1;
}

int TIdCookies::IndexOfKey(std::string_view key) const {
  for (std::size_t i = 0; i < index_.size(); ++i)
    if (rt::SameText(index_[i].key, key)) return int(i);
  return -1;
}

TIdCookieList& TIdCookies::ListFor(std::string_view key) {
  int i = IndexOfKey(key);
  if (i >= 0) return *index_[std::size_t(i)].list;
  index_.push_back(Entry{std::string(key), std::make_unique<TIdCookieList>()});
  return *index_.back().list;
}

int TIdCookies::CookieCount() const {
  int n = 0;
  for (const auto& entry : index_) n += entry.list->Count();
  return n;
}

// --- the manager -------------------------------------------------------------------------

TIdCookieManager::~TIdCookieManager() {
  if (OnDestroy) {
    try {
      OnDestroy(*this);
    } catch (...) {
      // A destructor never throws; the handler's failure has nowhere to go.
    }
  }
}

void TIdCookieManager::AddCookie(std::string_view headerValue, std::string_view host) {
  AdmitCookie(std::make_unique<TIdCookieRFC2109>(), headerValue, host);
}

void TIdCookieManager::AddCookie2(std::string_view headerValue, std::string_view host) {
  AdmitCookie(std::make_unique<TIdCookieRFC2965>(), headerValue, host);
}

void TIdCookieManager::AdmitCookie(std::unique_ptr<TIdNetscapeCookie> cookie,
                                   std::string_view headerValue, std::string_view host) {
  cookie->ParseSetCookie(headerValue);
  cookie->HostOnly = cookie->DomainText.empty();
  if (cookie->HostOnly) cookie->DomainText = std::string(host);
  if (!cookie->MatchesHost(host)) return;
  if (OnNewCookie && !OnNewCookie(*this, *cookie)) return;
  StoreCookie(std::move(cookie));
}

void TIdCookieManager::StoreCookie(std::unique_ptr<TIdNetscapeCookie> cookie) {
  std::unique_lock guard(lock_);
  const std::string key = cookie->DomainText + cookie->PathText;
  if (cookies_.CookieCount() >= kMaxStoredCookies) {
    // A full store takes no new cookie (nor a new key), only changes to stored ones.
    const int k = cookies_.IndexOfKey(key);
    if (k < 0 || cookies_.ListAt(k).IndexOfName(cookie->NameText) < 0) return;
  }
  TIdCookieList& list = cookies_.ListFor(key);
  const int existing = list.IndexOfName(cookie->NameText);
  if (existing < 0) {
    list.Add(std::move(cookie));
    return;
  }
  // The stored cookie keeps its place and takes over the new one's fields.
  TIdNetscapeCookie& stored = list[existing];
  stored.ParseSetCookie(cookie->ServerText());
  stored.KindLevel = cookie->KindLevel;
  stored.HostOnly = cookie->HostOnly;
}

void TIdCookieManager::DropExpired() {
  std::unique_lock guard(lock_);
  // The clock is read once, and only when a cookie has an expiry date to compare it with.
  std::optional<TDateTime> now;
  for (int k = 0; k < cookies_.KeyCount(); ++k) {
    TIdCookieList& list = cookies_.ListAt(k);
    for (int i = list.Count() - 1; i >= 0; --i) {
      const std::string& expires = list[i].ExpiresText;
      if (expires.empty()) continue;
      if (!now) now = rt::Now();
      if (*now > InternetDateToLocal(expires)) list.Delete(i);
    }
  }
}

std::string TIdCookieManager::CookieTextFor(const TIdURI& address, bool secure) {
  return CookieTextFor(address.HostName, address.DirPath, secure);
}

std::string TIdCookieManager::CookieTextFor(std::string_view hostName, std::string_view dirPath,
                                            bool secure) {
  {
    // An empty store, the usual case between sites that set no cookies, has nothing to send.
    std::shared_lock guard(lock_);
    if (cookies_.KeyCount() == 0) return {};
  }
  DropExpired();
  std::shared_lock guard(lock_);
  std::vector<const TIdNetscapeCookie*> chosen;
  for (int k = 0; k < cookies_.KeyCount(); ++k) {
    const TIdCookieList& list = cookies_.ListAt(k);
    for (int i = list.Count() - 1; i >= 0; --i) {
      const TIdNetscapeCookie& cookie = list[i];
      if (!cookie.SendsTo(hostName)) continue;
      if (cookie.PathText.empty() || !dirPath.starts_with(cookie.PathText)) continue;
      if (cookie.IsSecure && !secure) continue;
      if (cookie.ValueText.empty()) continue;
      chosen.push_back(&cookie);
    }
  }
  // Longer (later-sorting) paths first; equal paths keep the order they were found in.
  std::stable_sort(chosen.begin(), chosen.end(), [](const auto* a, const auto* b) {
    return rt::CompareText(a->PathText, b->PathText) > 0;
  });
  std::string text;
  for (const auto* cookie : chosen) {
    if (!text.empty()) text += "; ";
    text += cookie->NameText + "=" + cookie->ValueText;
  }
  return text;
}
