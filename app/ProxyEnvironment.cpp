#include "app/ProxyEnvironment.h"

#include <cstdlib>

#include "runtime/Text.h"

namespace app {

namespace {

// The first of `names` set to something, with the name that gave it.
std::optional<Proxy> FirstSet(const ProxyEnvironment::Lookup& lookup,
                              std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = lookup(name);
    if (value != nullptr && *value != '\0') return ReadProxy(name, value);
  }
  return std::nullopt;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%xx" becomes the byte it names; a "%" not followed by two hexadecimal digits stays.
std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      decoded += char(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

// A host name compared as names are: lower case, without a final ".".
std::string HostKey(std::string_view host) {
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  return rt::LowerCase(host);
}

// Whether `text` is digits only, at least one.
bool AllDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

Proxy ReadProxy(std::string_view variable, std::string_view text) {
  Proxy proxy;
  proxy.variable = std::string(variable);
  text = rt::TrimView(text);
  std::string scheme = "http";
  if (const std::size_t end = text.find("://"); end != std::string_view::npos) {
    scheme = rt::LowerCase(text.substr(0, end));
    text.remove_prefix(end + 3);
  }
  text = text.substr(0, text.find('/'));  // a path after the proxy means nothing
  // The credentials end at the last "@": a password may hold one.
  if (const std::size_t at = text.rfind('@'); at != std::string_view::npos) {
    const std::string_view user = text.substr(0, at);
    const std::size_t colon = user.find(':');
    proxy.username = PercentDecoded(user.substr(0, colon));
    if (colon != std::string_view::npos) proxy.password = PercentDecoded(user.substr(colon + 1));
    proxy.credentials = !proxy.username.empty();
    text.remove_prefix(at + 1);
  }
  bool portRead = true;
  if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    const std::string_view port = text.substr(colon + 1);
    text = text.substr(0, colon);
    if (!port.empty()) {
      int64_t value = 0;
      portRead = AllDigits(port) && port.size() <= 5 && rt::TryStrToInt64(port, value) &&
                 value >= 1 && value <= 65535;
      if (portRead) proxy.port = uint16_t(value);
    }
  }
  proxy.host = std::string(text);
  proxy.shown = scheme + "://" + proxy.host + ":" + std::to_string(proxy.port);
  proxy.usable = scheme == "http" && !proxy.host.empty() && portRead;
  return proxy;
}

ProxyEnvironment ProxyEnvironment::Read(const Lookup& given) {
  const Lookup lookup = given ? given : [](const char* name) { return std::getenv(name); };
  ProxyEnvironment environment;
  environment.http_ = FirstSet(lookup, {"http_proxy"});
  environment.https_ = FirstSet(lookup, {"https_proxy", "HTTPS_PROXY"});
  const char* bypass = lookup("no_proxy");
  if (bypass == nullptr || *bypass == '\0') bypass = lookup("NO_PROXY");
  std::string_view rest = bypass != nullptr ? bypass : "";
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    std::string_view entry = rt::TrimView(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (entry == "*") environment.bypassAll_ = true;
    if (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
    if (const std::size_t colon = entry.rfind(':');
        colon != std::string_view::npos && AllDigits(entry.substr(colon + 1)))
      entry = entry.substr(0, colon);
    if (!entry.empty()) environment.bypass_.push_back(HostKey(entry));
  }
  return environment;
}

bool ProxyEnvironment::Bypassed(std::string_view host) const {
  if (bypassAll_) return true;
  const std::string key = HostKey(host);
  for (const std::string& entry : bypass_) {
    if (key == entry) return true;
    // A host under the entry: "www.example.com" under "example.com".
    if (key.size() > entry.size() &&
        key.compare(key.size() - entry.size(), entry.size(), entry) == 0 &&
        key[key.size() - entry.size() - 1] == '.')
      return true;
  }
  return false;
}

const Proxy* ProxyEnvironment::For(std::string_view scheme, std::string_view host) const {
  const std::optional<Proxy>* proxy = nullptr;
  if (rt::SameText(scheme, "http"))
    proxy = &http_;
  else if (rt::SameText(scheme, "https"))
    proxy = &https_;
  if (proxy == nullptr || !*proxy || Bypassed(host)) return nullptr;
  return &**proxy;
}

const Proxy* ProxyEnvironment::Unusable() const {
  if (http_ && !http_->usable) return &*http_;
  if (https_ && !https_->usable) return &*https_;
  return nullptr;
}

}  // namespace app
