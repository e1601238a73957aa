// lirenta-console as built against a lyrics server that misbehaves: resets in the middle of a
// body, cuts a body short, closes or resets every kept-alive connection between songs, answers
// garbage, answers 100 MiB, sends 10,000 Set-Cookie headers. Every run must end with the
// completion message and exit status 0, rows without a usable page keep their value, and the
// pages that did arrive whole are stored exactly.
#include <gtest/gtest.h>

#include <random>

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
using test::RequestLine;

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
  // Every scripted connection ran to its end without a failure.
  static void ExpectDone(Server& server) {
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Failures(), std::vector<std::string>{});
  }
  test::ProgramFolder folder_;
};

TEST_F(SiteFaults, ResetInTheMiddleOfABodyMovesOnToTheNextAddress) {
  // The first 300 bytes hold a whole composer; the reset must still make the page count as
  // not fetched.
  std::string page = ComposerPage("Parcial") + std::string(4000, 'x');
  Server server(
      {{Server::ExpectHead(), Server::Send(PageAnswer(page).substr(0, 300)), Server::Reset()},
       {Server::ExpectHead(), Server::Send(PageAnswer(ComposerPage("Inteiro"))),
        Server::ExpectHead(), Server::Send(PageAnswer(ComposerPage("Segundo"))),
        Server::AwaitClose()}});
  EXPECT_EQ(RunOn(2, server), (test::Composers{{1, "Inteiro"}, {2, "Segundo"}}));
  ExpectDone(server);
  EXPECT_EQ(server.Received(0).rfind(RequestLine("/ana/t1.html"), 0), 0u);
  EXPECT_EQ(server.Received(1).rfind(RequestLine("/ana/t1-cifrada.html"), 0), 0u);
  EXPECT_NE(server.Received(1).find(RequestLine("/ana/t2.html")), std::string::npos)
      << "the next song reuses the fresh connection";
}

TEST_F(SiteFaults, BodyCutShortByACloseCountsOnlyWhenTheComposerCameWhole) {
  std::string cutInName = PageAnswer(ComposerPage("Nome Cortado") + std::string(4000, 'x'));
  cutInName.resize(cutInName.find("Cortado"));
  std::string cutAfter = PageAnswer(ComposerPage("Completo") + std::string(4000, 'x'));
  cutAfter.resize(cutAfter.find("</p>\n</body>") + 4);
  // A body cut short by a close ends with the bytes that came: the lookup takes that page and
  // tries no other address; without its end marker it holds no composer (never a part of a
  // name).
  Server server({{Server::ExpectHead(), Server::Send(cutInName), Server::Close()},
                 {Server::ExpectHead(), Server::Send(cutAfter), Server::Close()}});
  EXPECT_EQ(RunOn(2, server), (test::Composers{{1, std::nullopt}, {2, "Completo"}}));
  EXPECT_EQ(server.Accepted(), 2);
  EXPECT_EQ(server.Received(0),
            server.Received(0).substr(0, server.Received(0).find("\r\n\r\n") + 4));
  EXPECT_EQ(server.Received(1).rfind(RequestLine("/ana/t2.html"), 0), 0u);
}

TEST_F(SiteFaults, ServerClosingOrResettingEveryKeptAliveConnectionBetweenSongs) {
  // Each answer promises to keep the connection, and the server drops it right after. The
  // reset waits a moment first: a reset on its heels would let the kernel throw the answer away
  // before the client read it. Whether the next request still reaches a dying connection or
  // not, no song may fall back to its second address.
  Server server(
      {{Server::ExpectHead(), Server::Send(PageAnswer(ComposerPage("C1"))), Server::Close()},
       {Server::ExpectHead(), Server::Send(PageAnswer(ComposerPage("C2"))), Server::Stall(100ms),
        Server::Reset()},
       {Server::ExpectHead(), Server::Send(PageAnswer(ComposerPage("C3"))), Server::HalfClose(),
        Server::AwaitClose()},
       {Server::ExpectHead(), Server::Send(PageAnswer(ComposerPage("C4"))), Server::Close()}});
  EXPECT_EQ(RunOn(4, server), (test::Composers{{1, "C1"}, {2, "C2"}, {3, "C3"}, {4, "C4"}}));
  ExpectDone(server);
  EXPECT_EQ(server.Accepted(), 4);
  for (int i = 0; i < 4; ++i) {
    const std::string received = server.Received(std::size_t(i));
    EXPECT_EQ(received.rfind(RequestLine("/ana/t" + std::to_string(i + 1) + ".html"), 0), 0u)
        << received;
    EXPECT_EQ(received.find("-cifrada"), std::string::npos) << received;
  }
}

TEST_F(SiteFaults, KeptConnectionDroppedAsTheNextRequestArrivesIsAskedOnceMore) {
  // The server takes the next request and drops the connection without a byte of an answer,
  // as a server whose keep-alive time ran out just then does. The same address is asked again
  // on a fresh connection, not given up for the next one.
  Server server(
      {{Server::ExpectHead(), Server::Send(PageAnswer(ComposerPage("C1"))), Server::ExpectHead(),
        Server::Close()},
       {Server::ExpectHead(), Server::Send(PageAnswer(ComposerPage("C2"))), Server::ExpectHead(),
        Server::Reset()},
       {Server::ExpectHead(), Server::Send(PageAnswer(ComposerPage("C3"))), Server::AwaitClose()}});
  EXPECT_EQ(RunOn(3, server), (test::Composers{{1, "C1"}, {2, "C2"}, {3, "C3"}}));
  ExpectDone(server);
  EXPECT_EQ(server.Accepted(), 3);
  EXPECT_NE(server.Received(0).find(RequestLine("/ana/t2.html")), std::string::npos);
  EXPECT_EQ(server.Received(1).rfind(RequestLine("/ana/t2.html"), 0), 0u) << server.Received(1);
  EXPECT_NE(server.Received(1).find(RequestLine("/ana/t3.html")), std::string::npos);
  EXPECT_EQ(server.Received(2).rfind(RequestLine("/ana/t3.html"), 0), 0u) << server.Received(2);
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
  const std::vector<std::string> garbage = {
      std::string(),  // a close without a byte
      noise,          // no line end at all
      std::string(kNulStatus, sizeof kNulStatus - 1) + ComposerPage("Lixo"),
      std::string(20000, 'A') + "\r\n\r\n" + ComposerPage("Longa"),  // over the longest line
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffffffffffffff\r\n" +
          ComposerPage("X"),
      // Refused whole answers: the connection is kept, and the server's close is met by the
      // next attempt.
      "HTTP/9.9 999 \xFF\xFE\r\nContent-Length: " + std::to_string(strange.size()) + "\r\n\r\n" +
          strange,
      "HTTP/1.1 200 OK\r\nLocation: http://127.0.0.1:9/\r\nContent-Length: " +
          std::to_string(diverted.size()) + "\r\n\r\n" + diverted,
  };
  const int garbageSongs = int(garbage.size());
  std::vector<Server::Script> scripts;
  for (const std::string& answer : garbage)
    for (int attempt = 0; attempt < 3; ++attempt)
      scripts.push_back({Server::ExpectHead(), Server::Send(answer), Server::Close()});
  scripts.push_back({Server::ExpectHead(), Server::Send(PageAnswer(ComposerPage("Depois do lixo"))),
                     Server::AwaitClose()});
  Server server(scripts);

  test::Composers expected;
  for (int i = 1; i <= garbageSongs; ++i) expected[i] = std::nullopt;
  expected[garbageSongs + 1] = "Depois do lixo";
  EXPECT_EQ(RunOn(garbageSongs + 1, server), expected);
  ASSERT_TRUE(server.WaitDone()) << testing::PrintToString(server.Failures()) << server.Accepted();
  EXPECT_EQ(server.Accepted(), garbageSongs * 3 + 1);
  const char* suffixes[] = {".html", "-cifrada.html", "-traducao.html"};
  for (int song = 0; song < garbageSongs; ++song)
    for (int attempt = 0; attempt < 3; ++attempt) {
      const std::string line = RequestLine("/ana/t" + std::to_string(song + 1) + suffixes[attempt]);
      EXPECT_EQ(server.Received(std::size_t(song * 3 + attempt)).rfind(line, 0), 0u)
          << "song " << song + 1 << " attempt " << attempt + 1;
    }
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
    return Server::Script{Server::ExpectHead(),
                          Server::Send(PageAnswer(ComposerPage(composer), "Connection: close\r\n")),
                          Server::Close()};
  };
  Server server(
      {{Server::ExpectHead(), Server::Send(PageAnswer(body)), Server::Close()},
       normal("Normal 1"),
       {Server::ExpectHead(), Server::Send("HTTP/1.0 200 OK\r\n\r\n" + body), Server::Close()},
       normal("Normal 2"),
       {Server::ExpectHead(), Server::Send(chunked), Server::Close()},
       normal("Normal 3")},
      Server::Ms(20000), Server::Ms(60000));
  body.clear();
  body.shrink_to_fit();
  chunked.clear();
  chunked.shrink_to_fit();

  EXPECT_EQ(RunOn(3, server), (test::Composers{{1, "Normal 1"}, {2, "Normal 2"}, {3, "Normal 3"}}));
  EXPECT_EQ(server.Accepted(), 6);
  for (int song = 1; song <= 3; ++song) {
    const std::string t = "/ana/t" + std::to_string(song);
    EXPECT_EQ(server.Received(std::size_t(song * 2 - 2)).rfind(RequestLine(t + ".html"), 0), 0u);
    EXPECT_EQ(server.Received(std::size_t(song * 2 - 1)).rfind(RequestLine(t + "-cifrada.html"), 0),
              0u);
  }
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
  EXPECT_EQ(
      site.RequestLines(),
      (std::vector<std::string>{"GET /ana/t1.html HTTP/1.1", "GET /ana/t2.html HTTP/1.1",
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

}  // namespace
