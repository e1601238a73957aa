// The proxies the environment names: which variables count, how a proxy is written, and which
// hosts no_proxy sends straight.
#include <gtest/gtest.h>

#include <map>

#include "app/ProxyEnvironment.h"

namespace {

using app::ProxyEnvironment;
using Variables = std::map<std::string, std::string>;

ProxyEnvironment Read(const Variables& variables) {
  return ProxyEnvironment::Read([&](const char* name) -> const char* {
    const auto found = variables.find(name);
    return found == variables.end() ? nullptr : found->second.c_str();
  });
}

// "variable shown" of the proxy for an address, "" for the straight route.
std::string ProxyOf(const ProxyEnvironment& proxies, const char* scheme, const char* host) {
  const app::Proxy* proxy = proxies.For(scheme, host);
  return proxy == nullptr ? "" : proxy->variable + " " + proxy->shown;
}

TEST(ProxyEnvironment, VariablesAreReadAsCurlReadsThem) {
  struct Case {
    Variables variables;
    const char* http;   // the proxy of http://site/
    const char* https;  // of https://site/
  } cases[] = {
      {{}, "", ""},
      {{{"http_proxy", "proxy:3128"}}, "http_proxy http://proxy:3128", ""},
      // HTTP_PROXY is ignored: any request to a CGI program can set it.
      {{{"HTTP_PROXY", "http://proxy:3128"}}, "", ""},
      {{{"HTTPS_PROXY", "http://upper:1"}}, "", "HTTPS_PROXY http://upper:1"},
      {{{"https_proxy", "http://lower:2"}, {"HTTPS_PROXY", "http://upper:1"}},
       "",
       "https_proxy http://lower:2"},
      // Empty counts as unset; without a port, 1080.
      {{{"http_proxy", ""}, {"https_proxy", "http://proxy/"}}, "", "https_proxy http://proxy:1080"},
      {{{"ALL_PROXY", "http://proxy:3128"}, {"all_proxy", "http://proxy:3128"}}, "", ""},
  };
  for (const Case& c : cases) {
    const ProxyEnvironment proxies = Read(c.variables);
    EXPECT_EQ(ProxyOf(proxies, "http", "site"), c.http);
    EXPECT_EQ(ProxyOf(proxies, "HTTPS", "site"), c.https);
    EXPECT_EQ(proxies.Empty(), *c.http == '\0' && *c.https == '\0');
  }
}

TEST(ProxyEnvironment, CredentialsArePercentDecodedAndNeverShown) {
  const app::Proxy proxy =
      app::ReadProxy("http_proxy", " http://ana%40casa:p%3As@w%rd@proxy.lan:8080/ignored ");
  EXPECT_EQ(proxy.username, "ana@casa");
  EXPECT_EQ(proxy.password, "p:s@w%rd");
  EXPECT_TRUE(proxy.credentials);
  EXPECT_EQ(proxy.host, "proxy.lan");
  EXPECT_EQ(proxy.port, 8080);
  EXPECT_EQ(proxy.shown, "http://proxy.lan:8080");
  EXPECT_TRUE(proxy.usable);
  EXPECT_FALSE(app::ReadProxy("http_proxy", ":only@proxy:1").credentials);

  // Proxies the client cannot use: another scheme, no host, a port outside 1 to 65535.
  for (const char* text : {"socks5://ana:pw@proxy:1080", "https://proxy:443", "http://:3128",
                           "proxy:0", "proxy:65536", "proxy:80x"}) {
    const app::Proxy unusable = app::ReadProxy("https_proxy", text);
    EXPECT_FALSE(unusable.usable) << text;
    EXPECT_EQ(unusable.shown.find("pw"), std::string::npos) << text;
    EXPECT_EQ(Read({{"https_proxy", text}}).Unusable()->variable, "https_proxy");
  }
  EXPECT_EQ(app::ReadProxy("https_proxy", "socks5://ana:pw@proxy:1080").shown,
            "socks5://proxy:1080");
  EXPECT_EQ(Read({{"http_proxy", "proxy:3128"}}).Unusable(), nullptr);
}

TEST(ProxyEnvironment, NoProxyNamesHostsAndTheHostsUnderThem) {
  struct Case {
    const char* noProxy;
    const char* host;
    bool straight;
  } cases[] = {
      {"*", "anything.example", true},
      {"example.com", "example.com", true},
      {"example.com", "www.EXAMPLE.com.", true},
      {".example.com", "example.com", true},
      {".example.com", "a.b.example.com", true},
      {"example.com", "badexample.com", false},
      {"www.example.com", "example.com", false},
      {"127.0.0.1", "127.0.0.1", true},
      {"127.0.0.1", "127.0.0.10", false},
      {"localhost, 127.0.0.1:8080 ,\texample.org", "127.0.0.1", true},
      {"example.org:443", "example.org", true},
      {" , ,", "example.org", false},
  };
  for (const Case& c : cases) {
    for (const char* variable : {"no_proxy", "NO_PROXY"}) {
      const ProxyEnvironment proxies = Read(
          {{"http_proxy", "proxy:3128"}, {"https_proxy", "proxy:3128"}, {variable, c.noProxy}});
      EXPECT_EQ(proxies.For("http", c.host) == nullptr, c.straight)
          << variable << "=" << c.noProxy << " " << c.host;
      EXPECT_EQ(proxies.For("https", c.host) == nullptr, c.straight);
    }
  }
  // The lower-case one wins.
  const ProxyEnvironment both =
      Read({{"http_proxy", "proxy:3128"}, {"no_proxy", "a.example"}, {"NO_PROXY", "b.example"}});
  EXPECT_EQ(both.For("http", "a.example"), nullptr);
  EXPECT_NE(both.For("http", "b.example"), nullptr);
}

}  // namespace
