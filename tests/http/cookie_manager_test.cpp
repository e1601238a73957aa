// The cookie store: parsing "Set-cookie" values, admission, replacement, expiry, and which
// cookies go back to which host in which order.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "http/IdCookieManager.h"
#include "http/IdHeaderList.h"
#include "http/IdURI.h"
#include "runtime/DateTime.h"
#include "runtime/Exception.h"

namespace {

constexpr const char* kHost = "pages.s.t";

// A moment that has passed / lies ahead, as a server would write it.
std::string PastDate() {
  return LocalToInternetDate(rt::Now() - 1);
}
std::string FutureDate() {
  return LocalToInternetDate(rt::Now() + 30);
}

// Lets the clock move past the second an expiry was written for.
void LetTimePass() {
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// --- a lyrics host, pages.s.t, asked for the directory /artist/ ---------------------------

TEST(CookieStoreTest, HostCookieWithRootPathIsSentToItsHost) {
  TIdCookieManager manager;
  manager.AddCookie("a=1; path=/", kHost);
  ASSERT_EQ(manager.Cookies().KeyCount(), 1);
  EXPECT_EQ(manager.Cookies().KeyAt(0), "pages.s.t/");
  EXPECT_EQ(manager.CookieTextFor(kHost, "/artist/", false), "a=1");
  EXPECT_EQ(manager.CookieTextFor(TIdURI("http://pages.s.t/artist/song.html"), false), "a=1");
  EXPECT_EQ(manager.CookieTextFor(TIdURI("http://PAGES.S.T/other/"), false), "a=1");
}

TEST(CookieStoreTest, DomainCookiesAreAdmittedOnlyForTheHostsDomain) {
  TIdCookieManager manager;
  manager.AddCookie("b=2; path=/; domain=.s.t", kHost);
  manager.AddCookie("c=3; domain=o.t; path=/", kHost);
  EXPECT_EQ(manager.Cookies().CookieCount(), 1);
  EXPECT_EQ(manager.CookieTextFor(kHost, "/artist/", false), "b=2");
}

TEST(CookieStoreTest, CookiesWithoutPathOrValueAreStoredButNeverSent) {
  TIdCookieManager manager;
  manager.AddCookie("d=4", kHost);
  manager.AddCookie("i=; path=/", kHost);
  EXPECT_EQ(manager.Cookies().CookieCount(), 2);
  EXPECT_EQ(manager.CookieTextFor(kHost, "/artist/", false), "");
  EXPECT_EQ(manager.CookieTextFor(kHost, "/", false), "");
}

TEST(CookieStoreTest, LongerPathsComeFirst) {
  TIdCookieManager manager;
  manager.AddCookie("f=6; path=/", kHost);
  manager.AddCookie("e=5; path=/artist/", kHost);
  manager.AddCookie("z=0; path=/other/", kHost);
  EXPECT_EQ(manager.CookieTextFor(kHost, "/artist/", false), "e=5; f=6");
  EXPECT_EQ(manager.CookieTextFor(kHost, "/artist/sub/", false), "e=5; f=6");
  EXPECT_EQ(manager.CookieTextFor(kHost, "/", false), "f=6");
  // The path is a prefix in exact case.
  EXPECT_EQ(manager.CookieTextFor(kHost, "/Artist/", false), "f=6");
}

TEST(CookieStoreTest, EqualPathsKeepKeyOrderAndLastStoredFirst) {
  TIdCookieManager manager;
  manager.AddCookie("x=1; path=/", kHost);
  manager.AddCookie("w=0; path=/; domain=.s.t", kHost);
  manager.AddCookie("y=2; path=/", kHost);
  ASSERT_EQ(manager.Cookies().KeyCount(), 2);
  EXPECT_EQ(manager.CookieTextFor(kHost, "/", false), "y=2; x=1; w=0");
}

TEST(CookieStoreTest, ASecondCookieOfTheSameKeyAndNameReplacesTheValue) {
  TIdCookieManager manager;
  manager.AddCookie("a=1; path=/", kHost);
  manager.AddCookie("b=1; path=/", kHost);
  manager.AddCookie("A=9; path=/", kHost);
  EXPECT_EQ(manager.Cookies().CookieCount(), 2);
  // The replaced cookie keeps its place (and its name's spelling comes from the new one).
  EXPECT_EQ(manager.CookieTextFor(kHost, "/", false), "b=1; A=9");
  // Another path is another key: both are kept.
  manager.AddCookie("a=2; path=/artist/", kHost);
  EXPECT_EQ(manager.CookieTextFor(kHost, "/artist/", false), "a=2; b=1; A=9");
}

TEST(CookieStoreTest, ExpiredCookiesAreRemovedBeforeTheNextRequest) {
  TIdCookieManager manager;
  manager.AddCookie("keep=1; path=/", kHost);
  manager.AddCookie("g=7; path=/; max-age=0", kHost);
  manager.AddCookie("h=8; path=/; expires=" + PastDate(), kHost);
  manager.AddCookie("u=9; path=/; expires=not a date", kHost);
  manager.AddCookie("l=1; path=/; max-age=3600", kHost);
  EXPECT_EQ(manager.Cookies().CookieCount(), 5);
  LetTimePass();
  EXPECT_EQ(manager.CookieTextFor(kHost, "/", false), "l=1; keep=1");
  EXPECT_EQ(manager.Cookies().CookieCount(), 2);
}

TEST(CookieStoreTest, SecureCookiesGoOnlyToSecureRequests) {
  TIdCookieManager manager;
  manager.AddCookie("j=1; path=/; secure", kHost);
  manager.AddCookie("k=2; path=/; Secure=no", kHost);
  EXPECT_EQ(manager.CookieTextFor(kHost, "/", false), "k=2");
  EXPECT_EQ(manager.CookieTextFor(kHost, "/", true), "k=2; j=1");
}

// --- mended: a cookie goes only to its own host or below its domain --------------------------

TEST(CookieStoreTest, HostCookiesNeverGoToOtherHosts) {
  TIdCookieManager manager;
  manager.AddCookie("own=1; path=/", "a.b");
  EXPECT_EQ(manager.CookieTextFor("a.b", "/", false), "own=1");
  EXPECT_EQ(manager.CookieTextFor("A.B", "/", false), "own=1");
  EXPECT_EQ(manager.CookieTextFor("xa.b", "/", false), "");
  EXPECT_EQ(manager.CookieTextFor("www.a.b", "/", false), "");
  EXPECT_EQ(manager.CookieTextFor("a.b.c", "/", false), "");
  EXPECT_EQ(manager.CookieTextFor("a", "/", false), "");
}

TEST(CookieStoreTest, DomainCookiesGoToTheDomainAndTheHostsBelowIt) {
  for (const char* domain : {"a.b", ".a.b"}) {
    TIdCookieManager manager;
    manager.AddCookie(std::string("dom=1; path=/; domain=") + domain, "www.a.b");
    ASSERT_EQ(manager.Cookies().CookieCount(), 1) << domain;
    EXPECT_EQ(manager.CookieTextFor("a.b", "/", false), "dom=1") << domain;
    EXPECT_EQ(manager.CookieTextFor("www.a.b", "/", false), "dom=1") << domain;
    EXPECT_EQ(manager.CookieTextFor("x.y.A.B", "/", false), "dom=1") << domain;
    EXPECT_EQ(manager.CookieTextFor("xa.b", "/", false), "") << domain;
    EXPECT_EQ(manager.CookieTextFor("a.b.evil", "/", false), "") << domain;
    EXPECT_EQ(manager.CookieTextFor("b", "/", false), "") << domain;
  }
}

TEST(CookieStoreTest, AHostMaySetOnlyItsOwnDomainOrOneAboveIt) {
  TIdCookieManager manager;
  manager.AddCookie("x=1; path=/; domain=a.b", "evil-a.b");
  manager.AddCookie("x=2; path=/; domain=a.b", "www.xa.b");
  manager.AddCookie("x=3; path=/; domain=www.a.b", "a.b");
  EXPECT_EQ(manager.Cookies().CookieCount(), 0);
  manager.AddCookie("x=4; path=/; domain=a.b", "www.a.b");
  manager.AddCookie("y=5; path=/; domain=a.b", "a.b");
  EXPECT_EQ(manager.Cookies().CookieCount(), 2);
}

TEST(CookieStoreTest, IPv4HostsMatchOnlyExactly) {
  TIdCookieManager manager;
  manager.AddCookie("ip=1; path=/", "27.0.0.1");
  manager.AddCookie("other=1; path=/; domain=.0.0.1", "127.0.0.1");
  manager.AddCookie("wide=1; path=/; domain=0.0.1", "127.0.0.1");
  EXPECT_EQ(manager.Cookies().CookieCount(), 1);
  EXPECT_EQ(manager.CookieTextFor("27.0.0.1", "/", false), "ip=1");
  EXPECT_EQ(manager.CookieTextFor("127.0.0.1", "/", false), "");
  EXPECT_EQ(manager.CookieTextFor("x.27.0.0.1", "/", false), "");

  manager.AddCookie("own=1; path=/", "127.0.0.1");
  EXPECT_EQ(manager.CookieTextFor("127.0.0.1", "/", false), "own=1");
}

TEST(CookieStoreTest, IPv4AddressesAreFourNumbersUpTo255) {
  using idcookies::IsIPv4Address;
  EXPECT_TRUE(IsIPv4Address("127.0.0.1"));
  EXPECT_TRUE(IsIPv4Address("255.255.255.255"));
  EXPECT_TRUE(IsIPv4Address("1.2.3.4.example"));  // nothing after the fourth number counts
  EXPECT_FALSE(IsIPv4Address("256.0.0.1"));
  EXPECT_FALSE(IsIPv4Address("1.2.3"));
  EXPECT_FALSE(IsIPv4Address("1.2.3."));
  EXPECT_FALSE(IsIPv4Address("1..2.3"));
  EXPECT_FALSE(IsIPv4Address("a.b.c.d"));
  EXPECT_FALSE(IsIPv4Address(""));
}

// --- mended: a replaced cookie keeps the newer cookie's expiry --------------------------------

TEST(CookieStoreTest, ReplacingACookieWithAnExpiredOneRemovesIt) {
  TIdCookieManager manager;
  manager.AddCookie("s=1; path=/; expires=" + FutureDate(), kHost);
  manager.AddCookie("t=1; path=/", kHost);
  EXPECT_EQ(manager.CookieTextFor(kHost, "/", false), "t=1; s=1");
  manager.AddCookie("s=2; path=/; expires=" + PastDate(), kHost);
  manager.AddCookie("t=2; path=/; max-age=0", kHost);
  LetTimePass();
  EXPECT_EQ(manager.CookieTextFor(kHost, "/", false), "");
  EXPECT_EQ(manager.Cookies().CookieCount(), 0);
}

TEST(CookieStoreTest, ReplacingAnExpiringCookieWithASessionCookieDropsTheExpiry) {
  TIdCookieManager manager;
  manager.AddCookie("s=1; path=/; expires=" + FutureDate(), kHost);
  manager.AddCookie("s=2; path=/", kHost);
  const TIdNetscapeCookie& stored = manager.Cookies().ListAt(0)[0];
  EXPECT_EQ(stored.ValueText, "2");
  EXPECT_EQ(stored.ExpiresText, "");
  EXPECT_EQ(stored.KindLevel, 0);
}

// --- parsing -------------------------------------------------------------------------------

TEST(CookieParseTest, NameValueAndAttributes) {
  TIdCookieRFC2109 cookie;
  cookie.ParseSetCookie(
      "SID=a=b=c ; Path=\"/x/\"; DOMAIN=.s.t;Version=1; comment=hello; secure; path=/ignored");
  EXPECT_EQ(cookie.NameText, "SID");
  EXPECT_EQ(cookie.ValueText, "a=b=c");
  EXPECT_EQ(cookie.PathText, "/x/");
  EXPECT_EQ(cookie.DomainText, ".s.t");
  EXPECT_EQ(cookie.VersionText, "1");
  EXPECT_EQ(cookie.CommentText, "hello");
  EXPECT_TRUE(cookie.IsSecure);
  EXPECT_EQ(cookie.MaxAgeSeconds, -1);
  EXPECT_EQ(cookie.ExpiresText, "");
  EXPECT_EQ(cookie.KindLevel, 0);
  EXPECT_EQ(
      cookie.SourceText,
      "SID=a=b=c ; Path=\"/x/\"; DOMAIN=.s.t;Version=1; comment=hello; secure; path=/ignored");
}

TEST(CookieParseTest, WithoutSemicolonTheWholeTextIsOneUntrimmedPart) {
  TIdCookieRFC2109 cookie;
  cookie.ParseSetCookie(" n=v ");
  EXPECT_EQ(cookie.NameText, " n");
  EXPECT_EQ(cookie.ValueText, "v ");
  cookie.ParseSetCookie("novalue; path=/");
  EXPECT_EQ(cookie.NameText, "");
  EXPECT_EQ(cookie.ValueText, "");
  EXPECT_EQ(cookie.PathText, "/");
  cookie.ParseSetCookie("");
  EXPECT_EQ(cookie.NameText, "");
  cookie.ParseSetCookie(";;;");
  EXPECT_EQ(cookie.NameText, "");
  EXPECT_EQ(cookie.PathText, "");
}

TEST(CookieParseTest, TheSameTextIsNotParsedTwice) {
  TIdCookieRFC2109 cookie;
  cookie.ParseSetCookie("a=1; path=/");
  cookie.ValueText = "changed";
  cookie.ParseSetCookie("a=1; path=/");
  EXPECT_EQ(cookie.ValueText, "changed");
}

TEST(CookieParseTest, ExpiryKindsAndMaxAge) {
  TIdCookieRFC2109 dated;
  dated.ParseSetCookie("a=1; expires=Sun, 06 Nov 2044 08:49:37 GMT");
  EXPECT_EQ(dated.KindLevel, 1);
  EXPECT_EQ(dated.ExpiresText, "Sun, 06 Nov 2044 08:49:37 GMT");

  TIdCookieRFC2109 aged;
  const TDateTime before = rt::Now();
  aged.ParseSetCookie("a=1; Max-Age=120");
  EXPECT_EQ(aged.KindLevel, 0);
  EXPECT_EQ(aged.MaxAgeSeconds, 120);
  const TDateTime expires = InternetDateToLocal(aged.ExpiresText);
  EXPECT_GE(expires, before + 119.0 / 86400);
  EXPECT_LE(expires, before + 121.0 / 86400);

  TIdCookieRFC2109 odd;
  odd.ParseSetCookie("a=1; max-age=0x10");
  EXPECT_EQ(odd.MaxAgeSeconds, -1);
  EXPECT_EQ(odd.ExpiresText, "");

  TIdCookieRFC2965 two;
  two.ParseSetCookie("a=1; expires=Sun, 06 Nov 2044 08:49:37 GMT");
  EXPECT_EQ(two.KindLevel, 2);
}

TEST(CookieParseTest, ServerTextCarriesTheAttributes) {
  TIdCookieRFC2109 cookie;
  cookie.ParseSetCookie("n=v; path=/p/; domain=.s.t; secure; max-age=-5; comment=c; version=1");
  EXPECT_EQ(cookie.ServerText(), "n=v; path=/p/; domain=.s.t; secure; comment=c; version=1");
  TIdCookieRFC2109 empty;
  empty.ParseSetCookie("n=; path=/");
  // Name and "=" go only with a value.
  EXPECT_EQ(empty.ServerText(), "; path=/");
  TIdNetscapeCookie bare;
  bare.ParseSetCookie("n=");
  EXPECT_EQ(bare.ServerText(), "");
}

TEST(CookieParseTest, SetCookie2PortsDiscardAndCommentUrl) {
  TIdCookieRFC2965 cookie;
  cookie.ParseSetCookie("a=1; Port=\"80, 8080\"; Discard; CommentURL=http://c/");
  EXPECT_EQ(cookie.PortNumbers, (std::vector<int32_t>{80, 8080}));
  EXPECT_TRUE(cookie.IsDiscard);
  EXPECT_EQ(cookie.CommentUrlText, "http://c/");

  cookie.ParseSetCookie("a=1; port=8081");  // unquoted: the list stays
  EXPECT_EQ(cookie.PortNumbers, (std::vector<int32_t>{80, 8080}));
  cookie.ParseSetCookie("a=1");
  EXPECT_EQ(cookie.PortNumbers, (std::vector<int32_t>{80}));
  EXPECT_FALSE(cookie.IsDiscard);
  cookie.ParseSetCookie("a=1; Port=\"\"");
  EXPECT_EQ(cookie.PortNumbers, (std::vector<int32_t>{80}));

  TIdCookieManager manager;
  try {
    manager.AddCookie2("b=1; path=/; Port=\"80,abc\"", kHost);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "'abc' is not a valid integer value");
  }
  EXPECT_EQ(manager.Cookies().CookieCount(), 0);
  manager.AddCookie2("c=1; path=/; Port=\"81\"", kHost);
  EXPECT_EQ(manager.CookieTextFor(kHost, "/", false), "c=1");
}

TEST(CookieStoreTest, NewCookieHandlerMayRefuse) {
  TIdCookieManager manager;
  int asked = 0;
  manager.OnNewCookie = [&](TIdCookieManager&, TIdNetscapeCookie& cookie) {
    ++asked;
    return cookie.NameText != "no";
  };
  manager.AddCookie("no=1; path=/", kHost);
  manager.AddCookie("yes=1; path=/", kHost);
  manager.AddCookie("dropped=1; path=/; domain=o.t", kHost);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(manager.CookieTextFor(kHost, "/", false), "yes=1");
}

}  // namespace
