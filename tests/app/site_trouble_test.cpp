// What counts as the lyrics site's trouble, the waits before a song is looked up again, the
// max wait and the Retry-After reading: without sockets, the time handed in.
#include <gtest/gtest.h>

#include "app/SiteTrouble.h"
#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "http/IdHeaderList.h"
#include "http/IdStack.h"

namespace {

using namespace std::chrono_literals;
using app::LookupOutcome;
using app::Seconds;
using app::SitePatience;

// An answer as the client keeps it after reading its head.
void Answer(TIdHTTPResponse& answer, const std::string& statusLine,
            const std::vector<std::string>& headers = {}) {
  answer.Clear();
  answer.StatusLine = statusLine;
  for (const std::string& h : headers) answer.HeaderLines.Add(h);
  answer.ReadHeaders();
}

TEST(SiteTrouble, NoCompleteAnswerIsTroubleAndTheClientsOwnRefusalsAreNot) {
  const EIdSocketError refused(10061, idstack::SocketErrorMessage(10061));
  const EIdSocketError unknownHost(11001, idstack::SocketErrorMessage(11001));
  const EIdTLSError certificate("Certificate refused: certificate has expired");
  const EIdConnectTimeout connectTimeout;
  const EIdReadTimeout readTimeout;
  const EIdConnClosedGracefully closed;
  const EIdClosedSocket disconnected;
  const EIdHTTPUndefinedSituation cut;
  for (const std::exception* trouble : {static_cast<const std::exception*>(&refused),
                                        static_cast<const std::exception*>(&unknownHost),
                                        static_cast<const std::exception*>(&certificate),
                                        static_cast<const std::exception*>(&connectTimeout),
                                        static_cast<const std::exception*>(&readTimeout),
                                        static_cast<const std::exception*>(&closed),
                                        static_cast<const std::exception*>(&disconnected),
                                        static_cast<const std::exception*>(&cut)})
    EXPECT_TRUE(app::IsSiteTrouble(*trouble)) << trouble->what();
  // An address the client will not send, an answer it will not take.
  for (const EIdException& answer :
       {EIdException("Invalid line break or NUL character in request."),
        EIdException("Response body too large."), EIdException("Max line length exceeded.")})
    EXPECT_FALSE(app::IsSiteTrouble(answer)) << answer.what();
  EXPECT_FALSE(app::IsSiteTrouble(EIdURIException("Host field is empty")));
  EXPECT_FALSE(app::IsSiteTrouble(EConvertError("'x' is not a valid integer value")));

  EXPECT_EQ(app::TroubleText(refused), "Connection refused");
  EXPECT_EQ(app::TroubleText(unknownHost), "Host not found");
  EXPECT_EQ(app::TroubleText(certificate), "Certificate refused: certificate has expired");
  EXPECT_EQ(app::TroubleText(EIdReadTimeout()), "Read Timeout");
}

TEST(SiteTrouble, MaxWaitIsAWholeNumberOfSeconds) {
  EXPECT_EQ(app::ReadMaxWait("0"), Seconds(0));
  EXPECT_EQ(app::ReadMaxWait("600"), Seconds(600));
  EXPECT_EQ(app::ReadMaxWait("99999999999999999999999"), Seconds(app::kMaxWaitCeiling));
  for (const char* bad : {"", "-1", "+5", " 5", "5 ", "1.5", "1e3", "abc", "10s"})
    EXPECT_EQ(app::ReadMaxWait(bad), std::nullopt) << bad;
}

TEST(SiteTrouble, RetryAfterIsSecondsOrADateCountedFromTheAnswersOwnDate) {
  const TDateTime now = InternetDateToLocal("Wed, 09 Dec 2026 12:00:00 GMT");
  EXPECT_EQ(app::ReadRetryAfter("120", 0, now), Seconds(120));
  EXPECT_EQ(app::ReadRetryAfter(" 7 ", 0, now), Seconds(7));
  EXPECT_EQ(app::ReadRetryAfter("Wed, 09 Dec 2026 12:00:30 GMT", 0, now), Seconds(30));
  // The server's clock is an hour ahead of ours: its own Date is the reference.
  const TDateTime serverNow = InternetDateToLocal("Wed, 09 Dec 2026 13:00:00 GMT");
  EXPECT_EQ(app::ReadRetryAfter("Wed, 09 Dec 2026 13:00:08 GMT", serverNow, now), Seconds(8));
  EXPECT_EQ(app::ReadRetryAfter("Wed, 09 Dec 2026 11:00:00 GMT", 0, now), Seconds(0));
  for (const char* bad : {"", "-3", "soon", "1.5"})
    EXPECT_EQ(app::ReadRetryAfter(bad, 0, now), std::nullopt) << bad;
}

TEST(SiteTrouble, ASongIsLookedUpWithItsPageOrAnAnswerOnEveryAddress) {
  TIdHTTPResponse answer;
  LookupOutcome lookup;
  lookup.Start();
  Answer(answer, "HTTP/1.1 404 Not Found");
  lookup.Refused(answer, 0);
  lookup.Refused(answer, 0);
  Answer(answer, "HTTP/1.1 500 Internal Server Error");
  lookup.Refused(answer, 0);
  EXPECT_TRUE(lookup.LookedUp());

  lookup.Start();
  lookup.Failed(EIdReadTimeout());
  lookup.Page();
  EXPECT_TRUE(lookup.LookedUp()) << "the page came on a later address";

  lookup.Start();
  lookup.Page(true);
  EXPECT_FALSE(lookup.LookedUp()) << "a page cut short without its composer";
  EXPECT_EQ(lookup.Trouble(), "Connection Closed Gracefully");

  lookup.Start();
  Answer(answer, "HTTP/1.1 429 Too Many Requests", {"Retry-After: 3"});
  lookup.Refused(answer, 0);
  Answer(answer, "HTTP/1.1 404 Not Found");
  lookup.Refused(answer, 0);
  EXPECT_FALSE(lookup.LookedUp());
  EXPECT_EQ(lookup.Trouble(), "429 Too Many Requests");
  EXPECT_EQ(lookup.RetryAfter(), Seconds(3));
  // The last 429/503 counts, with or without its Retry-After.
  Answer(answer, "HTTP/1.1 503 Service Unavailable");
  lookup.Refused(answer, 0);
  EXPECT_EQ(lookup.Trouble(), "503 Service Unavailable");
  EXPECT_EQ(lookup.RetryAfter(), std::nullopt);
  lookup.Failed(EIdException("Invalid line break or NUL character in request."));
  EXPECT_EQ(lookup.Trouble(), "503 Service Unavailable");

  // A proxy's or front server's word that the site did not answer, and an answer not whole in
  // its time, are the site's trouble too; a redirect that was not followed is an answer.
  for (const char* status : {"HTTP/1.1 502 Bad Gateway", "HTTP/1.0 504 Gateway Timeout"}) {
    lookup.Start();
    Answer(answer, status, {"Retry-After: 2"});
    lookup.Refused(answer, 0);
    EXPECT_FALSE(lookup.LookedUp()) << status;
    EXPECT_EQ(lookup.Trouble(), std::string(status).substr(9));
    EXPECT_EQ(lookup.RetryAfter(), Seconds(2));
  }
  lookup.Start();
  lookup.Failed(EIdAnswerTimeout());
  EXPECT_EQ(lookup.Trouble(), "Read timed out");
  lookup.Start();
  Answer(answer, "HTTP/1.1 301 Moved Permanently", {"Location: http://elsewhere/"});
  lookup.Refused(answer, 0);
  EXPECT_TRUE(lookup.LookedUp());
}

TEST(SiteTrouble, ASongIsLeftAfterFiveLookupsUnlessTheSongBeforeItWasLeft) {
  const auto start = SitePatience::Clock::time_point();
  LookupOutcome trouble;
  trouble.Start();
  trouble.Failed(EIdSocketError(10054, "reset"));
  SitePatience patience(Seconds(600), start);
  // The lookups a song gets at `now` before it is left; 0: still not left after 20.
  auto lookupsBeforeLeaving = [&](SitePatience::Clock::time_point now) {
    for (int lookups = 1; lookups <= 20; ++lookups) {
      if (patience.MayLeave()) {
        patience.Left();
        return lookups;
      }
      EXPECT_TRUE(patience.NextWait(trouble, now));
    }
    return 0;
  };
  EXPECT_EQ(lookupsBeforeLeaving(start), 5) << "the run's first song";
  EXPECT_EQ(lookupsBeforeLeaving(start + 100s), 0) << "the song after a left one";
  // A left song does not count as looked up: the max wait still runs from the start.
  EXPECT_EQ(patience.NextWait(trouble, start + 600s), std::nullopt);
  patience.LookedUp(start + 800s);
  EXPECT_EQ(lookupsBeforeLeaving(start + 800s), 5) << "after a song that was looked up";
  EXPECT_EQ(patience.NextWait(trouble, start + 801s), SitePatience::Clock::duration(1s))
      << "the next song's waits start over";
}

TEST(SiteTrouble, WaitsDoubleToAMinuteAndStopWhenTheMaxWaitIsSpent) {
  const auto start = SitePatience::Clock::time_point();
  LookupOutcome trouble;
  trouble.Start();
  trouble.Failed(EIdConnClosedGracefully());
  SitePatience patience(Seconds(600), start);
  std::vector<Seconds> waits;
  auto now = start;
  for (int i = 0; i < 8; ++i) {
    const auto wait = patience.NextWait(trouble, now);
    ASSERT_TRUE(wait);
    waits.push_back(std::chrono::duration_cast<Seconds>(*wait));
    now += *wait;
  }
  EXPECT_EQ(waits, (std::vector<Seconds>{1s, 2s, 4s, 8s, 16s, 32s, 60s, 60s}));
  // The last try comes when the max wait is spent, and after it the run stops.
  now = start + 590s;
  EXPECT_EQ(patience.NextWait(trouble, now), SitePatience::Clock::duration(10s));
  EXPECT_EQ(patience.NextWait(trouble, start + 600s), std::nullopt);
  EXPECT_EQ(patience.SilentSeconds(start + 600s), 600);

  // A song looked up starts the silence and the doubling afresh.
  patience.LookedUp(start + 601s);
  EXPECT_EQ(patience.NextWait(trouble, start + 602s), SitePatience::Clock::duration(1s));

  // Retry-After, at least 1 s and at most a minute.
  TIdHTTPResponse answer;
  for (const auto& [given, taken] : {std::pair{"5", 5s}, {"0", 1s}, {"120", 60s}}) {
    LookupOutcome throttled;
    throttled.Start();
    Answer(answer, "HTTP/1.1 429 Too Many Requests", {std::string("Retry-After: ") + given});
    throttled.Refused(answer, 0);
    SitePatience fresh(Seconds(600), start);
    EXPECT_EQ(fresh.NextWait(throttled, start), SitePatience::Clock::duration(taken)) << given;
  }

  // 0: no wait at all.
  EXPECT_EQ(SitePatience(Seconds(0), start).NextWait(trouble, start), std::nullopt);
}

}  // namespace
