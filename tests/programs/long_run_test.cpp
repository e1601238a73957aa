// lirenta-console as built over runs that last, against the fixture site with its faults and a
// real nginx: a run killed in the middle keeps the songs it committed as it went, a dry run
// that outlasts the commit window writes nothing, nginx's request limiting (429 without a
// Retry-After) is waited out, and a run of 2,000 songs through three outages and a throttled
// burst ends in one go with every composer the site has.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>

#include "app/U_Principal.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/NginxSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/SongRows.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The fixture site's delay: a song whose page is at its first address takes at least this.
constexpr auto kSiteDelay = 100ms;

// Songs 1..n with their composers when `stored(i)`, without one otherwise.
template <typename Stored>
test::Composers ComposersWhere(int n, Stored stored) {
  test::Composers composers;
  for (int i = 1; i <= n; ++i)
    composers[i] = stored(i) ? std::optional(test::NumberedComposer(i)) : std::nullopt;
  return composers;
}

// The times `text` occurs in `in`.
std::size_t Count(const std::string& in, const std::string& text) {
  std::size_t n = 0;
  for (std::size_t at = in.find(text); at != std::string::npos; at = in.find(text, at + 1)) ++n;
  return n;
}

class LongRun : public testing::Test {
 protected:
  test::ProgramFolder folder_;
};

TEST_F(LongRun, KilledInTheMiddleKeepsWhatItCommittedAsItWent) {
  constexpr int kSongs = 60, kAskedFor = 45;
  test::LyricsSite site({"--delay-ms", std::to_string(kSiteDelay.count())});
  for (int i = 1; i <= kSongs; ++i)
    site.AddComposerPage(test::NumberedPage(i), test::NumberedComposer(i));
  ASSERT_TRUE(site.Start());
  test::FirebirdDatabase db(test::NumberedSongs(kSongs));
  folder_.Settings(db.Path());
  auto run = folder_.Start(site.BaseUrl());
  // Songs 1 to 44 took their 100 ms each: more than two commit windows.
  ASSERT_TRUE(site.AwaitRequest("/ana/t" + std::to_string(kAskedFor) + ".html", 30s))
      << run->Stderr();
  run->Kill(SIGKILL);
  ASSERT_EQ(run->Wait(10s), 128 + SIGKILL);

  const test::Composers stored = test::StoredComposers(db.Path());
  int kept = 0;
  while (kept < kSongs && stored.at(kept + 1) == test::NumberedComposer(kept + 1)) ++kept;
  EXPECT_EQ(stored, ComposersWhere(kSongs, [&](int i) { return i <= kept; }));
  // Nothing written waits longer than the commit interval for its commit: at 100 ms a song,
  // no more than the songs of the last 2 s (and one more) are lost.
  const int lostAtMost = int(app::kCommitInterval / kSiteDelay) + 1;
  EXPECT_GE(kept, kAskedFor - 1 - lostAtMost);
  EXPECT_LT(kept, kSongs);
}

TEST_F(LongRun, DryRunLongerThanTheCommitWindowWritesNothing) {
  constexpr int kSongs = 30;
  std::vector<test::Song> songs = test::NumberedSongs(kSongs);
  for (int i = 0; i < kSongs; i += 2) songs[std::size_t(i)].Compositor = " Antigo\t\xC9 ";
  songs[1].Compositor = "";
  test::LyricsSite site({"--delay-ms", std::to_string(kSiteDelay.count())});
  for (int i = 1; i <= kSongs; ++i)
    site.AddComposerPage(test::NumberedPage(i), test::NumberedComposer(i));
  ASSERT_TRUE(site.Start());
  test::FirebirdDatabase db(songs);
  const test::Composers before = test::StoredComposers(db.Path());
  folder_.Settings(db.Path());

  const auto start = Clock::now();
  const test::ProgramOutcome run = folder_.Run(site.BaseUrl(), {"--dry-run"});
  ASSERT_GT(Clock::now() - start, app::kCommitInterval);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::Utf8(app::kDryRunCompletedMessage) + "\n");
  // Every composer was found and none written.
  EXPECT_NE(run.err.find(test::SummaryLine(kSongs, kSongs, 0, 0)), std::string::npos) << run.err;
  EXPECT_EQ(test::StoredComposers(db.Path()), before);
}

TEST_F(LongRun, NginxLimitingRequestsWithoutRetryAfterIsWaitedOutAndEveryComposerArrives) {
  constexpr int kSongs = 300;
  // 50 requests a second, 30 more at once, the rest answered 429 at once: about every 35th
  // song is throttled, and waited for 1 s.
  test::NginxSite nginx(
      "  limit_req_zone $binary_remote_addr zone=pages:1m rate=50r/s;\n"
      "  limit_req zone=pages burst=30 nodelay;\n"
      "  limit_req_status 429;\n");
  for (int i = 1; i <= kSongs; ++i)
    nginx.AddPage(test::NumberedPage(i), test::ComposerPage(test::NumberedComposer(i)));
  ASSERT_TRUE(nginx.Start()) << nginx.Reason();
  test::FirebirdDatabase db(test::NumberedSongs(kSongs));
  folder_.Settings(db.Path());

  const test::ProgramOutcome run = folder_.Run(nginx.BaseUrl());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  EXPECT_EQ(test::StoredComposers(db.Path()), ComposersWhere(kSongs, [](int) { return true; }));
  // nginx did limit the run.
  const std::vector<std::string> answered = nginx.Answered();
  EXPECT_GT(std::count_if(answered.begin(), answered.end(),
                          [](const std::string& line) { return line.rfind("429 ", 0) == 0; }),
            0);
}

TEST_F(LongRun, TwoThousandSongsThroughThreeOutagesAndAThrottledBurstEndInOneGo) {
  constexpr int kSongs = 2000;
  // Gone for 2 s after the 300th, 900th and 1500th answer; requests 1200 to 1205 throttled,
  // with a Retry-After of 1 s.
  test::LyricsSite site({"--outage", "300:2000", "--outage", "900:2000", "--outage", "1500:2000",
                         "--throttle", "1200:6:1"});
  // Every tenth song has no page; every seventh is found at its second address, every
  // eleventh at its third.
  const auto hasPage = [](int i) { return i % 10 != 0; };
  for (int i = 1; i <= kSongs; ++i) {
    if (!hasPage(i)) continue;
    const char* suffix = i % 7 == 0 ? "-cifrada" : i % 11 == 0 ? "-traducao" : "";
    site.AddComposerPage(test::NumberedPage(i, suffix), test::NumberedComposer(i));
  }
  ASSERT_TRUE(site.Start());
  test::FirebirdDatabase db(test::NumberedSongs(kSongs));
  folder_.Settings(db.Path());

  // The site is never silent for more than 2 s: a max wait of 10 s is never spent.
  const test::ProgramOutcome run = folder_.Run(site.BaseUrl(), {}, {{"LIRENTA_MAX_WAIT", "10"}});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  const test::Composers expected = ComposersWhere(kSongs, hasPage);
  EXPECT_EQ(test::StoredComposers(db.Path()), expected);
  const int found = int(std::count_if(expected.begin(), expected.end(),
                                      [](const auto& song) { return song.second.has_value(); }));
  EXPECT_NE(run.err.find(test::SummaryLine(kSongs, found, found, 0)), std::string::npos) << run.err;
  // The run met every outage and the throttling, and waited for them.
  EXPECT_GE(Count(run.err, "(Connection refused)\n"), 3u) << run.err;
  EXPECT_GE(Count(run.err, "(429 Too Many Requests)\n"), 1u) << run.err;
}

}  // namespace
