// The proxies the environment names, read as curl reads them.
//
//   http_proxy                for http addresses; lower case only: HTTP_PROXY is ignored, because
//                             a web server's CGI environment lets any request set it
//   https_proxy, HTTPS_PROXY  for https addresses, through a CONNECT tunnel (lower case first)
//   no_proxy, NO_PROXY        a comma list of hosts reached straight (lower case first): "*" for
//                             every host; a name matches that host and every host under it (a
//                             leading "." changes nothing); an IP address matches itself; a
//                             ":port" after an entry is ignored; blanks around entries too
//
// A proxy is written [http://][user[:password]@]host[:port]; without a port it is 1080, as curl
// takes it. The user name and password are percent-decoded and go to the proxy as Basic
// credentials; they are never shown (Proxy::shown leaves them out). An empty variable counts as
// unset; ALL_PROXY and proxies of other schemes (socks5://, https://) are not used.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// A proxy's port when its address names none.
inline constexpr uint16_t kDefaultProxyPort = 1080;

struct Proxy {
  std::string variable;  // the variable that named it ("https_proxy")
  std::string shown;     // scheme://host:port, without the credentials
  std::string host;
  uint16_t port = kDefaultProxyPort;
  std::string username;  // percent-decoded
  std::string password;
  bool credentials = false;  // a user name was written: Basic credentials go with each request
  bool usable = false;       // http, a host, and a port from 1 to 65535
};

class ProxyEnvironment {
 public:
  // A variable's value, or nullptr when it is not set.
  using Lookup = std::function<const char*(const char* name)>;

  // Reads the variables through `lookup`; std::getenv when none is given.
  static ProxyEnvironment Read(const Lookup& lookup = {});

  bool Empty() const { return !http_ && !https_; }
  // The proxy for an address of `scheme` ("http", "https", any letter case) on `host`; nullptr:
  // straight to the site.
  const Proxy* For(std::string_view scheme, std::string_view host) const;
  // The first proxy named that cannot be used; nullptr when there is none.
  const Proxy* Unusable() const;

 private:
  bool Bypassed(std::string_view host) const;

  std::optional<Proxy> http_;
  std::optional<Proxy> https_;
  bool bypassAll_ = false;
  std::vector<std::string> bypass_;  // lower case, without a leading "." or a port
};

// A proxy from the text of `variable`.
Proxy ReadProxy(std::string_view variable, std::string_view text);

}  // namespace app
