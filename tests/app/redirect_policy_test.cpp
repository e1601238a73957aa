// Which redirects a lookup follows, and what the report says of one it does not.
#include <gtest/gtest.h>

#include "app/RedirectPolicy.h"

namespace {

using app::RedirectPolicy;

TEST(RedirectPolicy, FollowsOnlyForwardWithinTheLimitAndSaysWhyNot) {
  const std::string first = "http://site/ana/t1.html";
  struct Case {
    std::vector<std::string> locations;  // one per hop, from `first`
    bool setsCookie;
    const char* refusal;  // of the last location; nullptr: every one followed
  } cases[] = {
      {{"https://site/ana/t1.html", "https://site/ana/novo.html"}, false, nullptr},
      {{"HTTPS://site/a", "http://site/a"}, false, app::kRedirectToPlainRefused},
      {{"ftp://site/a"}, false, app::kRedirectSchemeRefused},
      {{"mailto:ana@site"}, false, app::kRedirectSchemeRefused},
      {{"http://site/b", "http://site/ana/t1.html"}, false, app::kRedirectLoop},
      {{"http://site/b", "http://site/c", "http://site/b"}, false, app::kRedirectLoop},
      // A redirect that set a cookie may come back: the next answer can differ.
      {{"http://site/b", "http://site/ana/t1.html"}, true, nullptr},
  };
  for (const Case& c : cases) {
    RedirectPolicy policy;
    policy.Start(first);
    for (std::size_t hop = 0; hop < c.locations.size(); ++hop) {
      const bool last = hop + 1 == c.locations.size();
      const std::string before = policy.Address();
      const bool followed = policy.Follow(c.locations[hop], int(hop) + 1, 15, c.setsCookie);
      EXPECT_EQ(followed, !last || c.refusal == nullptr) << c.locations[hop];
      EXPECT_EQ(policy.Address(), followed ? c.locations[hop] : before);
    }
    EXPECT_STREQ(policy.Refusal(), c.refusal) << c.locations.back();
    EXPECT_EQ(policy.Outcome("302 Found"),
              c.refusal ? "302 Found (" + std::string(c.refusal) + ")" : "302 Found");
  }

  // The redirect that ends the last hop the client allows is not followed.
  RedirectPolicy policy;
  policy.Start(first);
  for (int hop = 1; hop < 15; ++hop)
    ASSERT_TRUE(policy.Follow("http://site/" + std::to_string(hop), hop, 15, false));
  EXPECT_FALSE(policy.Follow("http://site/15", 15, 15, false));
  EXPECT_STREQ(policy.Refusal(), app::kTooManyRedirects);
  // A new attempt starts from its own address with nothing refused.
  const std::string second = "http://site/ana/t1-cifrada.html";
  policy.Start(second);
  EXPECT_EQ(policy.Address(), second);
  EXPECT_EQ(policy.Refusal(), nullptr);
  EXPECT_TRUE(policy.Follow("http://site/1", 1, 15, false)) << "the earlier attempt's hops";
}

}  // namespace
