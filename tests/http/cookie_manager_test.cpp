// The cookie store: parsing "Set-cookie" values, admission, replacement, expiry, and which
// cookies go back to which host in which order.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "http/IdCookieManager.h"
#include "http/IdHeaderList.h"
#include "http/IdURI.h"
#include "runtime/DateTime.h"
#include "runtime/Exception.h"
#include "tests/support/Failures.h"

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

// Each host with the "Cookie" text a request to its root must carry.
void ExpectSentTo(TIdCookieManager& manager,
                  const std::vector<std::pair<std::string, std::string>>& hostsAndTexts) {
  for (const auto& [host, text] : hostsAndTexts)
    EXPECT_EQ(manager.CookieTextFor(host, "/", false), text) << host;
}

// A store that cookies are offered to as a host sends them.
class CookieStoreTest : public ::testing::Test {
 protected:
  void Add(const std::vector<std::string>& values, const std::string& host = kHost) {
    for (const std::string& value : values) manager.AddCookie(value, host);
  }
  // The "Cookie" text for a request to `host` for `dir`.
  std::string Sent(const std::string& host, const std::string& dir = "/", bool secure = false) {
    return manager.CookieTextFor(host, dir, secure);
  }
  int Count() const { return manager.Cookies().CookieCount(); }

  TIdCookieManager manager;
};

// --- a lyrics host, pages.s.t, asked for the directory /artist/ ---------------------------

TEST_F(CookieStoreTest, HostCookieWithRootPathIsSentToItsHost) {
  Add({"a=1; path=/"});
  ASSERT_EQ(manager.Cookies().KeyCount(), 1);
  EXPECT_EQ(manager.Cookies().KeyAt(0), "pages.s.t/");
  EXPECT_EQ(Sent(kHost, "/artist/"), "a=1");
  EXPECT_EQ(manager.CookieTextFor(TIdURI("http://pages.s.t/artist/song.html"), false), "a=1");
  EXPECT_EQ(manager.CookieTextFor(TIdURI("http://PAGES.S.T/other/"), false), "a=1");
}

TEST_F(CookieStoreTest, DomainCookiesAreAdmittedOnlyForTheHostsDomain) {
  Add({"b=2; path=/; domain=.s.t", "c=3; domain=o.t; path=/"});
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Sent(kHost, "/artist/"), "b=2");
}

TEST_F(CookieStoreTest, CookiesWithoutPathOrValueAreStoredButNeverSent) {
  Add({"d=4", "i=; path=/"});
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Sent(kHost, "/artist/"), "");
  EXPECT_EQ(Sent(kHost, "/"), "");
}

TEST_F(CookieStoreTest, LongerPathsComeFirst) {
  Add({"f=6; path=/", "e=5; path=/artist/", "z=0; path=/other/"});
  EXPECT_EQ(Sent(kHost, "/artist/"), "e=5; f=6");
  EXPECT_EQ(Sent(kHost, "/artist/sub/"), "e=5; f=6");
  EXPECT_EQ(Sent(kHost, "/"), "f=6");
  // The path is a prefix in exact case.
  EXPECT_EQ(Sent(kHost, "/Artist/"), "f=6");
}

TEST_F(CookieStoreTest, EqualPathsKeepKeyOrderAndLastStoredFirst) {
  Add({"x=1; path=/", "w=0; path=/; domain=.s.t", "y=2; path=/"});
  ASSERT_EQ(manager.Cookies().KeyCount(), 2);
  EXPECT_EQ(Sent(kHost), "y=2; x=1; w=0");
}

TEST_F(CookieStoreTest, ASecondCookieOfTheSameKeyAndNameReplacesTheValue) {
  Add({"a=1; path=/", "b=1; path=/", "A=9; path=/"});
  EXPECT_EQ(Count(), 2);
  // The replaced cookie keeps its place (and its name's spelling comes from the new one).
  EXPECT_EQ(Sent(kHost), "b=1; A=9");
  // Another path is another key: both are kept.
  Add({"a=2; path=/artist/"});
  EXPECT_EQ(Sent(kHost, "/artist/"), "a=2; b=1; A=9");
}

TEST_F(CookieStoreTest, ExpiredCookiesAreRemovedBeforeTheNextRequest) {
  Add({"keep=1; path=/", "g=7; path=/; max-age=0", "h=8; path=/; expires=" + PastDate(),
       "u=9; path=/; expires=not a date", "l=1; path=/; max-age=3600"});
  EXPECT_EQ(Count(), 5);
  LetTimePass();
  EXPECT_EQ(Sent(kHost), "l=1; keep=1");
  EXPECT_EQ(Count(), 2);
}

TEST_F(CookieStoreTest, SecureCookiesGoOnlyToSecureRequests) {
  Add({"j=1; path=/; secure", "k=2; path=/; Secure=no"});
  EXPECT_EQ(Sent(kHost, "/", false), "k=2");
  EXPECT_EQ(Sent(kHost, "/", true), "k=2; j=1");
}

TEST_F(CookieStoreTest, NewCookieHandlerMayRefuse) {
  int asked = 0;
  manager.OnNewCookie = [&](TIdCookieManager&, TIdNetscapeCookie& cookie) {
    ++asked;
    return cookie.NameText != "no";
  };
  Add({"no=1; path=/", "yes=1; path=/", "dropped=1; path=/; domain=o.t"});
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(Sent(kHost), "yes=1");
}

// --- mended: a cookie goes only to its own host or below its domain --------------------------

TEST_F(CookieStoreTest, HostCookiesNeverGoToOtherHosts) {
  Add({"own=1; path=/"}, "a.b");
  ExpectSentTo(manager, {{"a.b", "own=1"},
                         {"A.B", "own=1"},
                         {"xa.b", ""},
                         {"www.a.b", ""},
                         {"a.b.c", ""},
                         {"a", ""}});
}

TEST_F(CookieStoreTest, DomainCookiesGoToTheDomainAndTheHostsBelowIt) {
  for (const char* domain : {"a.b", ".a.b"}) {
    SCOPED_TRACE(domain);
    TIdCookieManager store;
    store.AddCookie(std::string("dom=1; path=/; domain=") + domain, "www.a.b");
    ASSERT_EQ(store.Cookies().CookieCount(), 1);
    ExpectSentTo(store, {{"a.b", "dom=1"},
                         {"www.a.b", "dom=1"},
                         {"x.y.A.B", "dom=1"},
                         {"xa.b", ""},
                         {"a.b.evil", ""},
                         {"b", ""}});
  }
}

TEST_F(CookieStoreTest, AHostMaySetOnlyItsOwnDomainOrOneAboveIt) {
  Add({"x=1; path=/; domain=a.b"}, "evil-a.b");
  Add({"x=2; path=/; domain=a.b"}, "www.xa.b");
  Add({"x=3; path=/; domain=www.a.b"}, "a.b");
  EXPECT_EQ(Count(), 0);
  Add({"x=4; path=/; domain=a.b"}, "www.a.b");
  Add({"y=5; path=/; domain=a.b"}, "a.b");
  EXPECT_EQ(Count(), 2);
}

TEST_F(CookieStoreTest, IPv4HostsMatchOnlyExactly) {
  Add({"ip=1; path=/"}, "27.0.0.1");
  Add({"other=1; path=/; domain=.0.0.1", "wide=1; path=/; domain=0.0.1"}, "127.0.0.1");
  EXPECT_EQ(Count(), 1);
  ExpectSentTo(manager, {{"27.0.0.1", "ip=1"}, {"127.0.0.1", ""}, {"x.27.0.0.1", ""}});
  Add({"own=1; path=/"}, "127.0.0.1");
  EXPECT_EQ(Sent("127.0.0.1"), "own=1");
}

TEST_F(CookieStoreTest, IPv4AddressesAreFourNumbersUpTo255) {
  using idcookies::IsIPv4Address;
  // Nothing after the fourth number counts.
  for (const char* text : {"127.0.0.1", "255.255.255.255", "1.2.3.4.example"})
    EXPECT_TRUE(IsIPv4Address(text)) << text;
  for (const char* text : {"256.0.0.1", "1.2.3", "1.2.3.", "1..2.3", "a.b.c.d", ""})
    EXPECT_FALSE(IsIPv4Address(text)) << text;
}

// --- mended: a replaced cookie keeps the newer cookie's expiry --------------------------------

TEST_F(CookieStoreTest, ReplacingACookieWithAnExpiredOneRemovesIt) {
  Add({"s=1; path=/; expires=" + FutureDate(), "t=1; path=/"});
  EXPECT_EQ(Sent(kHost), "t=1; s=1");
  Add({"s=2; path=/; expires=" + PastDate(), "t=2; path=/; max-age=0"});
  LetTimePass();
  EXPECT_EQ(Sent(kHost), "");
  EXPECT_EQ(Count(), 0);
}

TEST_F(CookieStoreTest, ReplacingAnExpiringCookieWithASessionCookieDropsTheExpiry) {
  Add({"s=1; path=/; expires=" + FutureDate(), "s=2; path=/"});
  const TIdNetscapeCookie& stored = manager.Cookies().ListAt(0)[0];
  EXPECT_EQ(stored.ValueText, "2");
  EXPECT_EQ(stored.ExpiresText, "");
  EXPECT_EQ(stored.KindLevel, 0);
}

// --- parsing -------------------------------------------------------------------------------

TEST(CookieParseTest, NameValueAndAttributes) {
  const std::string text =
      "SID=a=b=c ; Path=\"/x/\"; DOMAIN=.s.t;Version=1; comment=hello; secure; path=/ignored";
  TIdCookieRFC2109 cookie;
  cookie.ParseSetCookie(text);
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
  EXPECT_EQ(cookie.SourceText, text);
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
  EXPECT_EQ(test::MessageOf<EConvertError>(
                [&] { manager.AddCookie2("b=1; path=/; Port=\"80,abc\"", kHost); }),
            "'abc' is not a valid integer value");
  EXPECT_EQ(manager.Cookies().CookieCount(), 0);
  manager.AddCookie2("c=1; path=/; Port=\"81\"", kHost);
  EXPECT_EQ(manager.CookieTextFor(kHost, "/", false), "c=1");
}

}  // namespace
