// lirenta-console as built against a lyrics server that misbehaves: resets in the middle of a
// body, cuts a body short, closes or resets every kept-alive connection between songs, answers
// garbage, answers 100 MiB, sends 10,000 Set-Cookie headers, stops sending. Every run must end
// with the completion message, rows without a usable page keep their value, and the pages that
// did arrive whole are stored exactly. A song that got no whole answer on any address met the
// site's trouble and is asked again after a wait.
//
// Stalls: the one slow case runs the program with its stored thirty-second read time limit;
// the others drive the main window in-process through the recording front-end with that limit
// lowered, so each stall costs half a second: the limit ends the attempt, the lookup moves on
// to the next address, the run completes and the button comes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/RecordedWindow.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SongRows.h"

namespace {

using namespace std::chrono_literals;
using Server = test::ScriptedServer;
using Lines = std::vector<std::string>;
using test::ComposerPage;
using test::PageAnswer;

const Server::Step kHead = Server::ExpectHead();
const Server::Step kNotFound = Server::Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");

// The answer with the page naming `composer`.
Server::Step Page(const std::string& composer) {
  return Server::Send(PageAnswer(ComposerPage(composer)));
}

class SiteFaults : public testing::Test {
 protected:
  // Runs the program over `songs` numbered songs by "Ana" against `baseUrl`; the run must
  // complete. The composers it left behind.
  test::Composers RunOn(int songs, const std::string& baseUrl) {
    test::FirebirdDatabase db(test::NumberedSongs(songs));
    folder_.Settings(db.Path());
    test::ProgramOutcome run = folder_.Run(baseUrl);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, test::kCompletedLine);
    return test::StoredComposers(db.Path());
  }
  test::Composers RunOn(int songs, const Server& server) {
    return RunOn(songs, "http://127.0.0.1:" + std::to_string(server.Port()) + "/");
  }
  // The request lines each accepted connection received.
  static std::vector<Lines> Requests(const Server& server) {
    std::vector<Lines> requests;
    for (int i = 0; i < server.Accepted(); ++i)
      requests.push_back(test::RequestLines(server.Received(std::size_t(i))));
    return requests;
  }
  // Every script ran to its end without a failure.
  static void ExpectClean(Server& server) {
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Failures(), Lines{});
  }
  test::ProgramFolder folder_;
};

TEST_F(SiteFaults, ResetInTheMiddleOfABodyMovesOnToTheNextAddress) {
  // The first 300 bytes hold a whole composer; the reset must still make the page count as
  // not fetched. The next song reuses the fresh connection.
  std::string page = ComposerPage("Parcial") + std::string(4000, 'x');
  Server server({{kHead, Server::Send(PageAnswer(page).substr(0, 300)), Server::Reset()},
                 {kHead, Page("Inteiro"), kHead, Page("Segundo"), Server::AwaitClose()}});
  EXPECT_EQ(RunOn(2, server), (test::Composers{{1, "Inteiro"}, {2, "Segundo"}}));
  ExpectClean(server);
  EXPECT_EQ(
      Requests(server),
      (std::vector<Lines>{{"GET /ana/t1.html HTTP/1.1"},
                          {"GET /ana/t1-cifrada.html HTTP/1.1", "GET /ana/t2.html HTTP/1.1"}}));
}

TEST_F(SiteFaults, BodyCutShortByACloseCountsOnlyWhenTheComposerCameWhole) {
  std::string cutInName = PageAnswer(ComposerPage("Nome Cortado") + std::string(4000, 'x'));
  cutInName.resize(cutInName.find("Cortado"));
  std::string cutAfter = PageAnswer(ComposerPage("Completo") + std::string(4000, 'x'));
  cutAfter.resize(cutAfter.find("</p>\n</body>") + 4);
  // A body cut short by a close ends with the bytes that came: the lookup takes that page and
  // tries no other address. Without its end marker it holds no composer (never a part of a
  // name), and a cut page without a composer is no whole answer: the song is asked again after
  // a wait, and then gets its page whole.
  Server server({{kHead, Server::Send(cutInName), Server::Close()},
                 {kHead, Server::Send(PageAnswer(ComposerPage("Nome Cortado"))), Server::Close()},
                 {kHead, Server::Send(cutAfter), Server::Close()}});
  EXPECT_EQ(RunOn(2, server), (test::Composers{{1, "Nome Cortado"}, {2, "Completo"}}));
  EXPECT_EQ(Requests(server), (std::vector<Lines>{{"GET /ana/t1.html HTTP/1.1"},
                                                  {"GET /ana/t1.html HTTP/1.1"},
                                                  {"GET /ana/t2.html HTTP/1.1"}}));
  // One request head and nothing more on the first connection.
  EXPECT_EQ(server.Received(0).find("\r\n\r\n") + 4, server.Received(0).size());
}

TEST_F(SiteFaults, ServerClosingOrResettingEveryKeptAliveConnectionBetweenSongs) {
  // Each answer promises to keep the connection, and the server drops it right after. The
  // reset waits a moment first: a reset on its heels would let the kernel throw the answer away
  // before the client read it. Whether the next request still reaches a dying connection or
  // not, no song may fall back to its second address.
  Server server({{kHead, Page("C1"), Server::Close()},
                 {kHead, Page("C2"), Server::Stall(100ms), Server::Reset()},
                 {kHead, Page("C3"), Server::HalfClose(), Server::AwaitClose()},
                 {kHead, Page("C4"), Server::Close()}});
  EXPECT_EQ(RunOn(4, server), (test::Composers{{1, "C1"}, {2, "C2"}, {3, "C3"}, {4, "C4"}}));
  ExpectClean(server);
  const std::vector<Lines> requests = Requests(server);
  ASSERT_EQ(requests.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(requests[i].empty() ? "" : requests[i][0],
              "GET /ana/t" + std::to_string(i + 1) + ".html HTTP/1.1");
    EXPECT_EQ(server.Received(i).find("-cifrada"), std::string::npos) << server.Received(i);
  }
}

TEST_F(SiteFaults, KeptConnectionDroppedAsTheNextRequestArrivesIsAskedOnceMore) {
  // The server takes the next request and drops the connection without a byte of an answer,
  // as a server whose keep-alive time ran out just then does. The same address is asked again
  // on a fresh connection, not given up for the next one.
  Server server({{kHead, Page("C1"), kHead, Server::Close()},
                 {kHead, Page("C2"), kHead, Server::Reset()},
                 {kHead, Page("C3"), Server::AwaitClose()}});
  EXPECT_EQ(RunOn(3, server), (test::Composers{{1, "C1"}, {2, "C2"}, {3, "C3"}}));
  ExpectClean(server);
  EXPECT_EQ(Requests(server),
            (std::vector<Lines>{{"GET /ana/t1.html HTTP/1.1", "GET /ana/t2.html HTTP/1.1"},
                                {"GET /ana/t2.html HTTP/1.1", "GET /ana/t3.html HTTP/1.1"},
                                {"GET /ana/t3.html HTTP/1.1"}}));
}

TEST_F(SiteFaults, GarbageAnswersLeaveTheirRowsAloneAndTheRunGoesOn) {
  std::mt19937 random(20261208);
  std::string noise(3000, '\0');
  for (char& c : noise) {
    c = char(random() & 0xFF);
    if (c == '\n') c = 'n';
  }
  static constexpr char kNulStatus[] = "\x00\x01\x02 lixo\r\nSem: dois pontos\r\n\r\n";
  const std::string strange = ComposerPage("Estranho"), diverted = ComposerPage("Desviado");
  struct Garbage {
    std::string bytes;
    bool cut;           // no whole answer came: the site's trouble, so the song is asked again
    std::string found;  // the answer is the page after all: the composer taken from it
  };
  const std::vector<Garbage> garbage = {
      {std::string(), true, {}},  // a close without a byte
      {noise, true, {}},          // no line end at all, then a close
      {std::string(kNulStatus, sizeof kNulStatus - 1) + ComposerPage("Lixo"), false, {}},
      {std::string(20000, 'A') + "\r\n\r\n" + ComposerPage("Longa"),
       false,
       {}},  // over the longest line
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffffffffffffff\r\n" +
           ComposerPage("X"),
       false,
       {}},
      // Refused whole answers: the connection is kept, and the server's close is met by the
      // next attempt.
      {"HTTP/9.9 999 \xFF\xFE\r\nContent-Length: " + std::to_string(strange.size()) + "\r\n\r\n" +
           strange,
       false,
       {}},
      // A Location on an answer that is not a redirect changes nothing.
      {"HTTP/1.1 200 OK\r\nLocation: http://127.0.0.1:9/\r\nContent-Length: " +
           std::to_string(diverted.size()) + "\r\n\r\n" + diverted,
       false, "Desviado"},
  };
  const int songs = int(garbage.size()) + 1;
  std::vector<Server::Script> scripts;
  std::vector<Lines> requests;
  test::Composers composers;
  for (int song = 1; song < songs; ++song) {
    const Garbage& g = garbage[std::size_t(song - 1)];
    composers[song] = g.found.empty() ? std::nullopt : std::optional(g.found);
    for (int pass = 0; pass < (g.cut ? 2 : 1); ++pass) {
      for (const char* suffix : {".html", "-cifrada.html", "-traducao.html"}) {
        if (!g.found.empty() && std::string(suffix) != ".html") break;
        scripts.push_back({kHead,
                           Server::Send(pass == 0 ? g.bytes : "HTTP/1.1 404 Not Found\r\n\r\n"),
                           Server::Close()});
        requests.push_back({"GET /ana/t" + std::to_string(song) + suffix + " HTTP/1.1"});
      }
    }
  }
  scripts.push_back({kHead, Page("Depois do lixo"), Server::AwaitClose()});
  requests.push_back({"GET /ana/t" + std::to_string(songs) + ".html HTTP/1.1"});
  composers[songs] = "Depois do lixo";
  Server server(scripts);
  EXPECT_EQ(RunOn(songs, server), composers);
  ASSERT_TRUE(server.WaitDone()) << testing::PrintToString(server.Failures());
  EXPECT_EQ(Requests(server), requests);
}

TEST_F(SiteFaults, HundredMebibyteBodiesAreRefusedInEveryFraming) {
  constexpr std::size_t kHundredMiB = std::size_t(100) << 20;
  // The composer stands at the start: a client that kept the first part would store it.
  std::string body = ComposerPage("Gigante");
  body.resize(kHundredMiB, 'x');
  std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  constexpr std::size_t kChunk = std::size_t(1) << 20;
  for (std::size_t at = 0; at < body.size(); at += kChunk) {
    chunked += "100000\r\n";
    chunked.append(body, at, kChunk);
    chunked += "\r\n";
  }
  chunked += "0\r\n\r\n";
  auto normal = [](const char* composer) {
    return Server::Script{kHead,
                          Server::Send(PageAnswer(ComposerPage(composer), "Connection: close\r\n")),
                          Server::Close()};
  };
  Server server({{kHead, Server::Send(PageAnswer(body)), Server::Close()},
                 normal("Normal 1"),
                 {kHead, Server::Send("HTTP/1.0 200 OK\r\n\r\n" + body), Server::Close()},
                 normal("Normal 2"),
                 {kHead, Server::Send(chunked), Server::Close()},
                 normal("Normal 3")},
                Server::Ms(20000), Server::Ms(60000));
  body.clear();
  body.shrink_to_fit();
  chunked.clear();
  chunked.shrink_to_fit();

  EXPECT_EQ(RunOn(3, server), (test::Composers{{1, "Normal 1"}, {2, "Normal 2"}, {3, "Normal 3"}}));
  std::vector<Lines> requests;
  for (const char* t : {"/ana/t1", "/ana/t2", "/ana/t3"})
    for (const char* suffix : {".html", "-cifrada.html"})
      requests.push_back({"GET " + std::string(t) + suffix + " HTTP/1.1"});
  EXPECT_EQ(Requests(server), requests);
}

TEST_F(SiteFaults, TenThousandSetCookieHeadersDoNotStopTheRun) {
  test::LyricsSite site;
  site.AddComposerPage("ana/t1.html", "Biscoito");
  std::string headers;
  for (int i = 0; i < 10000; ++i)
    headers += "Set-Cookie: c" + std::to_string(i) + "=valor" + std::to_string(i) + "; path=/\n";
  site.AddPage("ana/t1.html.headers", headers);
  site.AddComposerPage("ana/t2.html", "Bolacha");
  site.AddComposerPage("ana/t3-cifrada.html", "Rosquinha");
  ASSERT_TRUE(site.Start());
  EXPECT_EQ(RunOn(3, site.BaseUrl()),
            (test::Composers{{1, "Biscoito"}, {2, "Bolacha"}, {3, "Rosquinha"}}));
  EXPECT_EQ(site.RequestLines(),
            (Lines{"GET /ana/t1.html HTTP/1.1", "GET /ana/t2.html HTTP/1.1",
                   "GET /ana/t3.html HTTP/1.1", "GET /ana/t3-cifrada.html HTTP/1.1"}));
  // Every later request carries the cookies the store kept, not all ten thousand.
  const std::string log = site.RequestLog();
  const std::size_t second = log.find("GET /ana/t2.html");
  ASSERT_NE(second, std::string::npos);
  const std::string head = log.substr(second, log.find("\r\n\r\n", second) - second);
  std::size_t cookies = 0;
  for (std::size_t at = head.find("=valor"); at != std::string::npos;
       at = head.find("=valor", at + 1))
    ++cookies;
  EXPECT_EQ(cookies, 180u) << head.substr(0, 300);
  EXPECT_NE(head.find("c0=valor0"), std::string::npos);
  EXPECT_EQ(head.find("c180=valor180"), std::string::npos);
}

TEST_F(SiteFaults, StoredReadTimeLimitMovesTheProgramOnToTheNextAddress) {
  // Longer than the program's limit: only the limit can end this stall. Had the stall's end
  // (a close) ended the attempt instead, the cut body would have counted as the page and the
  // second address would never have been asked for.
  Server server(
      {{kHead, Server::Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nCompositor"),
        Server::Stall(50s)},
       {kHead, Server::Send(PageAnswer("<p>Compositor: Paciente</p>")), Server::AwaitClose()}},
      Server::Ms(55000), Server::Ms(70000));
  test::FirebirdDatabase db({{1, "Espera", "Ana", std::nullopt}});
  folder_.Settings(db.Path());
  test::ProgramOutcome run = folder_.Run("http://127.0.0.1:" + std::to_string(server.Port()) + "/");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  ASSERT_TRUE(server.WaitDone(10000ms));
  EXPECT_EQ(Requests(server), (std::vector<Lines>{{"GET /ana/espera.html HTTP/1.1"},
                                                  {"GET /ana/espera-cifrada.html HTTP/1.1"}}));
  EXPECT_EQ(test::StoredComposers(db.Path())[1], "Paciente");
}

TEST_F(SiteFaults, EveryStallEndsItsAttemptAtALoweredLimitAndTheNextAddressIsTried) {
  test::FirebirdDatabase db({{1, "t1", "Ana", std::nullopt},
                             {2, "t2", "Ana", std::nullopt},
                             {3, "t3", "Ana", std::string("Antigo")},
                             {4, "t4", "Ana", std::nullopt}});
  const std::string half =
      PageAnswer(ComposerPage("Nunca") + std::string(2000, 'x')).substr(0, 200);
  Server server(
      {// Song 1: headers, then nothing; the second address answers.
       {kHead, Server::Send("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n"), Server::Stall(5s)},
       // Song 2, same connection: half a body, then nothing; the second address answers.
       {kHead, Page("Depois da espera"), kHead, Server::Send(half), Server::Stall(5s)},
       // Song 3: not a byte of an answer, at all three addresses: the site's trouble.
       {kHead, Page("Meio corpo"), kHead, Server::Stall(5s)},
       {kHead, Server::Stall(5s)},
       {kHead, Server::Stall(5s)},
       // After a wait song 3 is asked again and gets answers: the row keeps its value. Song 4:
       // the client is still usable.
       {kHead, kNotFound, kHead, kNotFound, kHead, kNotFound, kHead, Page("Por fim"),
        Server::AwaitClose()}},
      Server::Ms(10000), Server::Ms(60000));
  {
    test::RecordedWindow w("http://127.0.0.1:" + std::to_string(server.Port()) + "/");
    w.PointAt(db.Path());
    TFrmPrincipal& window = w.Open();
    window.IdHTTP1->ReadTimeout = 500;  // long enough that loopback answers never hit it
    w.app.Run();
    ASSERT_EQ(w.app.Messages(), Lines{});
    w.Button().Click();
    EXPECT_EQ(w.app.Messages(), Lines{app::kCompletedMessage});
    EXPECT_EQ(w.app.Failures(), Lines{});
    EXPECT_TRUE(window.btnBuscar->Enabled());
    EXPECT_EQ(w.Button().History(), (std::vector<bool>{false, true}));
    EXPECT_EQ(window.lblAtual->Caption(), "Registro atual: 4");
    EXPECT_EQ(w.app.Waits(), std::vector<std::chrono::milliseconds>{1000ms});
    const auto& captions = w.app.MainForm()->FindLabel("lblAtual")->History();
    EXPECT_NE(std::find(captions.begin(), captions.end(),
                        "aguardando o site de letras: nova tentativa em 1 s (Read Timeout)"),
              captions.end());
  }
  ASSERT_TRUE(server.WaitDone(10000ms));
  EXPECT_EQ(server.Failures(), Lines{});
  EXPECT_EQ(
      Requests(server),
      (std::vector<Lines>{{"GET /ana/t1.html HTTP/1.1"},
                          {"GET /ana/t1-cifrada.html HTTP/1.1", "GET /ana/t2.html HTTP/1.1"},
                          {"GET /ana/t2-cifrada.html HTTP/1.1", "GET /ana/t3.html HTTP/1.1"},
                          {"GET /ana/t3-cifrada.html HTTP/1.1"},
                          {"GET /ana/t3-traducao.html HTTP/1.1"},
                          {"GET /ana/t3.html HTTP/1.1", "GET /ana/t3-cifrada.html HTTP/1.1",
                           "GET /ana/t3-traducao.html HTTP/1.1", "GET /ana/t4.html HTTP/1.1"}}));
  // Song 2: never the half that came before the stall.
  EXPECT_EQ(
      test::StoredComposers(db.Path()),
      (test::Composers{{1, "Depois da espera"}, {2, "Meio corpo"}, {3, "Antigo"}, {4, "Por fim"}}));
}

}  // namespace
