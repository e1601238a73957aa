// lirenta-console as built against scripted sites that throttle, go away and come back, or stay
// away: the site's trouble is waited out and no song is taken for a missing page, a site gone
// for longer than the max wait stops the run with status 3 and says so, and the first signal
// during a wait stops the run at once. Each song's attempts share one kept connection unless
// the script closes it.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <thread>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SongRows.h"

namespace {

using namespace std::chrono_literals;
using Server = test::ScriptedServer;
using test::ComposerPage;
using test::PageAnswer;

const Server::Step kHead = Server::ExpectHead();

Server::Step Page(const std::string& composer) {
  return Server::Send(PageAnswer(ComposerPage(composer)));
}
Server::Step Status(const std::string& status, const std::string& headers = "") {
  return Server::Send("HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: 0\r\n\r\n");
}

std::string Url(const Server& server) {
  return "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
}

// The console's line while it waits (standard error is not a terminal: one line per wait).
std::string WaitLine(int seconds, const std::string& trouble) {
  return "aguardando o site de letras: nova tentativa em " + std::to_string(seconds) + " s (" +
         trouble + ")\n";
}

class SiteTrouble : public testing::Test {
 protected:
  test::FirebirdDatabase db_{test::NumberedSongs(3)};
  test::ProgramFolder folder_;
  void SetUp() override { folder_.Settings(db_.Path()); }
};

TEST_F(SiteTrouble, ThrottlingIsWaitedOutForRetryAfterElseOneSecondAndEverySongArrives) {
  const Server::Step tooMany = Status("429 Too Many Requests", "Retry-After: 2\r\n");
  const Server::Step unavailable = Status("503 Service Unavailable");
  Server site({{kHead, Page("Um"),
                // Song 2: throttled on every address, then asked again after the 2 s it was told.
                kHead, tooMany, kHead, tooMany, kHead, tooMany, kHead, Page("Dois"),
                // Song 3: one 503 without a Retry-After among answers: 1 s.
                kHead, unavailable, kHead, Status("404 Not Found"), kHead, Status("404 Not Found"),
                kHead, Page("Tr\xEAs"), Server::AwaitClose()}});
  test::TempDir files;
  const std::string report = files.File("r.tsv");
  test::ProgramOutcome run = folder_.Run(Url(site), {"--report", report});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  EXPECT_NE(run.err.find(WaitLine(2, "429 Too Many Requests")), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(WaitLine(1, "503 Service Unavailable")), std::string::npos) << run.err;
  // Each song counts once, however often it was asked for.
  EXPECT_NE(run.err.find(test::SummaryLine(3, 3, 3, 0)), std::string::npos) << run.err;
  EXPECT_EQ(test::StoredComposers(db_.Path()),
            (test::Composers{{1, "Um"}, {2, "Dois"}, {3, "Tr\xEAs"}}));
  // Every attempt keeps its report line, with the answer's status.
  std::vector<std::string> outcomes;
  for (const std::string& line : test::ReadLines(report)) {
    std::vector<std::string> fields;
    for (std::size_t at = 0, tab; at <= line.size(); at = tab + 1) {
      tab = std::min(line.find('\t', at), line.size());
      fields.push_back(line.substr(at, tab - at));
    }
    outcomes.push_back(fields.at(0) + " " + fields.at(4));
  }
  EXPECT_EQ(outcomes,
            (std::vector<std::string>{"codigo resultado", "1 200 OK", "2 429 Too Many Requests",
                                      "2 429 Too Many Requests", "2 429 Too Many Requests",
                                      "2 200 OK", "3 503 Service Unavailable", "3 404 Not Found",
                                      "3 404 Not Found", "3 200 OK"}));
}

TEST_F(SiteTrouble, GatewayErrorsAreWaitedOut) {
  const Server::Step notFound = Status("404 Not Found");
  Server site(
      {{kHead, Status("502 Bad Gateway"), kHead, notFound, kHead, notFound, kHead, Page("Um"),
        kHead, Status("504 Gateway Timeout", "Retry-After: 1\r\n"), kHead, notFound, kHead,
        notFound, kHead, Page("Dois"), kHead, Page("Tr\xEAs"), Server::AwaitClose()}});
  test::ProgramOutcome run = folder_.Run(Url(site));
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.err.find(WaitLine(1, "502 Bad Gateway")), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(WaitLine(1, "504 Gateway Timeout")), std::string::npos) << run.err;
  EXPECT_EQ(test::StoredComposers(db_.Path()),
            (test::Composers{{1, "Um"}, {2, "Dois"}, {3, "Tr\xEAs"}}));
}

TEST_F(SiteTrouble, SongWithABrokenPageIsLeftAfterFiveLookupsAndAnOutageRightAfterIsWaitedOut) {
  // Song 1's first address always answers 504 (come back in 1 s), its others 404. Once its
  // fifth lookup is answered (15 answers), the site goes away for 2.5 s.
  test::LyricsSite lyrics({"--outage", "15:2500"});
  lyrics.AddComposerPage(test::NumberedPage(1), "Nunca");
  lyrics.AddPage(test::NumberedPage(1) + ".headers",
                 "Status: 504 Gateway Timeout\nRetry-After: 1\n");
  for (int song = 2; song <= 3; ++song)
    lyrics.AddComposerPage(test::NumberedPage(song), test::NumberedComposer(song));
  ASSERT_TRUE(lyrics.Start());
  test::TempDir files;
  const std::string report = files.File("r.tsv");
  test::ProgramOutcome run = folder_.Run(lyrics.BaseUrl(), {"--report", report});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  const std::string summary = test::SummaryLine(2, 2, 2, 0);
  EXPECT_NE(run.err.find(summary.substr(0, summary.size() - 1) +
                         test::Utf8(", 1 m\xFAsicas n\xE3o consultadas.\n")),
            std::string::npos)
      << run.err;
  // The song after the left one was waited for, through the outage, and written.
  EXPECT_EQ(test::StoredComposers(db_.Path()), (test::Composers{{1, std::nullopt},
                                                                {2, test::NumberedComposer(2)},
                                                                {3, test::NumberedComposer(3)}}));
  std::size_t songOneLines = 0, waits = 0;
  for (const std::string& line : test::ReadLines(report)) songOneLines += line.rfind("1\t", 0) == 0;
  for (std::size_t at = run.err.find(WaitLine(1, "504 Gateway Timeout")); at != std::string::npos;
       at = run.err.find(WaitLine(1, "504 Gateway Timeout"), at + 1))
    ++waits;
  EXPECT_EQ(songOneLines, 15u) << "five lookups of three addresses";
  EXPECT_EQ(waits, 4u);
}

TEST_F(SiteTrouble, SiteThatGoesAwayAndComesBackLosesNoSong) {
  // Song 2's request meets a reset, and so does every connection for it until the wait is
  // over: no song falls to its next address for good, none is skipped.
  Server site({{kHead, Page("Um"), kHead, Server::Reset()},
               {kHead, Server::Reset()},
               {kHead, Server::Reset()},
               {kHead, Server::Reset()},
               {kHead, Page("Dois"), kHead, Page("Tr\xEAs"), Server::AwaitClose()}});
  test::ProgramOutcome run = folder_.Run(Url(site));
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  EXPECT_NE(run.err.find("aguardando o site de letras: nova tentativa em 1 s ("), std::string::npos)
      << run.err;
  EXPECT_EQ(test::StoredComposers(db_.Path()),
            (test::Composers{{1, "Um"}, {2, "Dois"}, {3, "Tr\xEAs"}}));
  EXPECT_TRUE(site.WaitDone());
  EXPECT_EQ(site.Failures(), std::vector<std::string>{});
}

TEST_F(SiteTrouble, SiteGoneLongerThanTheMaxWaitStopsTheRunWithStatusThreeAndKeepsTheSongsDone) {
  // After song 1 every connection is closed at once.
  Server site({{kHead, Page("Um"), Server::Close()}});
  test::ProgramOutcome run = folder_.Run(Url(site), {}, {{"LIRENTA_MAX_WAIT", "2"}});
  EXPECT_EQ(run.status, 3) << run.out << run.err;
  // The failure's own text depends on when the close meets the request: a close or a reset.
  const std::string start = test::Utf8("O site de letras n\xE3o respondeu por 2 s (");
  const std::string end = test::Utf8(
      "). Parado ap\xF3s 1 de 3 m\xFAsicas; as altera\xE7\xF5"
      "es at\xE9 aqui foram gravadas.\n");
  EXPECT_EQ(run.out.rfind(start, 0), 0u) << run.out;
  ASSERT_GE(run.out.size(), end.size());
  EXPECT_EQ(run.out.substr(run.out.size() - end.size()), end) << run.out;
  EXPECT_NE(run.err.find(test::SummaryLine(1, 1, 1, 0) + "\n"), std::string::npos) << run.err;
  EXPECT_EQ(test::StoredComposers(db_.Path()),
            (test::Composers{{1, "Um"}, {2, std::nullopt}, {3, std::nullopt}}));
}

TEST_F(SiteTrouble, FirstSignalDuringAWaitStopsTheRunAtOnce) {
  // Song 2 is told to come back in a minute; the signal comes during that wait.
  Server site({{kHead, Page("Um"), kHead,
                Status("503 Service Unavailable", "Retry-After: 60\r\nConnection: close\r\n"),
                Server::Close()},
               {kHead, Status("503 Service Unavailable", "Retry-After: 60\r\n"), kHead,
                Status("503 Service Unavailable", "Retry-After: 60\r\n"), Server::AwaitClose()}},
              Server::Ms(5000), Server::Ms(90000));
  auto program = folder_.Start(Url(site));
  const std::string waiting = WaitLine(60, "503 Service Unavailable");
  for (int i = 0; i < 300 && program->Stderr().find(waiting) == std::string::npos; ++i)
    std::this_thread::sleep_for(100ms);
  ASSERT_NE(program->Stderr().find(waiting), std::string::npos) << program->Stderr();
  ASSERT_EQ(kill(program->Pid(), SIGINT), 0);
  // Well before the minute is over.
  auto status = program->Wait(30s);
  ASSERT_TRUE(status.has_value()) << "the signal did not end the wait\n" << program->Stderr();
  EXPECT_EQ(*status, 128 + SIGINT);
  EXPECT_EQ(program->Stdout(),
            test::Utf8("Interrompido ap\xF3s 1 de 3 m\xFAsicas; as altera\xE7\xF5"
                       "es at\xE9 aqui foram gravadas.\n"));
  EXPECT_EQ(test::StoredComposers(db_.Path()),
            (test::Composers{{1, "Um"}, {2, std::nullopt}, {3, std::nullopt}}));
}

}  // namespace
