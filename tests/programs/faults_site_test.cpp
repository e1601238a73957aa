// lirenta-console as built against a lyrics server that misbehaves: resets in the middle of a
// body, cuts a body short, closes or resets every kept-alive connection between songs, answers
// garbage, answers 100 MiB, sends 10,000 Set-Cookie headers. Every run must end with the
// completion message and exit status 0, rows without a usable page keep their value, and the
// pages that did arrive whole are stored exactly.
#include <gtest/gtest.h>

#include <random>

#include "tests/support/ConsoleRun.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/StoredSongs.h"

namespace {

using namespace std::chrono_literals;
using Server = test::ScriptedServer;

const std::string kCompleted = test::Utf8(
                                   "Atualiza\xE7\xE3o conclu\xED"
                                   "da.") +
                               "\n";

std::string Page(const std::string& composer) {
  return "<html><body><p>Letra da can\xE7\xE3o.</p>\n<p class=\"ficha\">Compositor: " + composer +
         "</p>\n</body></html>\n";
}

std::string Ok(const std::string& body, const std::string& extraHeaders = {}) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

std::string GetLine(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\n";
}

// Songs 1..n by "Ana" titled t1..tn: page names ana/t1 ... ana/tn.
std::vector<test::Song> Songs(int n) {
  std::vector<test::Song> songs;
  for (int i = 1; i <= n; ++i) songs.push_back({i, "t" + std::to_string(i), "Ana", std::nullopt});
  return songs;
}

class SiteFaults : public testing::Test {
 protected:
  test::ConsoleOutcome RunOn(const test::FirebirdDatabase& db, int port) {
    folder_.Settings(db.Path());
    return folder_.Run("http://127.0.0.1:" + std::to_string(port) + "/");
  }
  test::ConsoleFolder folder_;
};

TEST_F(SiteFaults, ResetInTheMiddleOfABodyMovesOnToTheNextAddress) {
  test::FirebirdDatabase db(Songs(2));
  // The first 300 bytes hold a whole composer; the reset must still make the page count as
  // not fetched.
  std::string page = Page("Parcial") + std::string(4000, 'x');
  Server server({{Server::ExpectHead(), Server::Send(Ok(page).substr(0, 300)), Server::Reset()},
                 {Server::ExpectHead(), Server::Send(Ok(Page("Inteiro"))), Server::ExpectHead(),
                  Server::Send(Ok(Page("Segundo"))), Server::AwaitClose()}});
  test::ConsoleOutcome run = RunOn(db, server.Port());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, kCompleted);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_TRUE(server.Failures().empty()) << server.Failures()[0];
  EXPECT_EQ(server.Received(0).rfind(GetLine("/ana/t1.html"), 0), 0u);
  EXPECT_EQ(server.Received(1).rfind(GetLine("/ana/t1-cifrada.html"), 0), 0u);
  EXPECT_NE(server.Received(1).find(GetLine("/ana/t2.html")), std::string::npos)
      << "the next song reuses the fresh connection";
  auto stored = test::ReadStoredSongs(db.Path());
  EXPECT_EQ(stored[1].Compositor, "Inteiro");
  EXPECT_EQ(stored[2].Compositor, "Segundo");
}

TEST_F(SiteFaults, BodyCutShortByACloseCountsOnlyWhenTheComposerCameWhole) {
  test::FirebirdDatabase db(Songs(2));
  std::string cutInName = Ok(Page("Nome Cortado") + std::string(4000, 'x'));
  cutInName.resize(cutInName.find("Cortado"));
  std::string cutAfter = Ok(Page("Completo") + std::string(4000, 'x'));
  cutAfter.resize(cutAfter.find("</p>\n</body>") + 4);
  // A body cut short by a close ends with the bytes that came: the lookup takes that page and
  // tries no other address; without its end marker it holds no composer.
  Server server({{Server::ExpectHead(), Server::Send(cutInName), Server::Close()},
                 {Server::ExpectHead(), Server::Send(cutAfter), Server::Close()}});
  test::ConsoleOutcome run = RunOn(db, server.Port());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, kCompleted);
  EXPECT_EQ(server.Accepted(), 2);
  EXPECT_EQ(server.Received(0),
            server.Received(0).substr(0, server.Received(0).find("\r\n\r\n") + 4));
  EXPECT_EQ(server.Received(1).rfind(GetLine("/ana/t2.html"), 0), 0u);
  auto stored = test::ReadStoredSongs(db.Path());
  EXPECT_EQ(stored[1].Compositor, std::nullopt) << "never a part of a name";
  EXPECT_EQ(stored[2].Compositor, "Completo");
}

TEST_F(SiteFaults, ServerClosingOrResettingEveryKeptAliveConnectionBetweenSongs) {
  test::FirebirdDatabase db(Songs(4));
  // Each answer promises to keep the connection, and the server drops it right after. The
  // reset waits a moment first: a reset on its heels would let the kernel throw the answer away
  // before the client read it. Whether the next request still reaches a dying connection or
  // not, no song may fall back to its second address.
  Server server(
      {{Server::ExpectHead(), Server::Send(Ok(Page("C1"))), Server::Close()},
       {Server::ExpectHead(), Server::Send(Ok(Page("C2"))), Server::Stall(100ms), Server::Reset()},
       {Server::ExpectHead(), Server::Send(Ok(Page("C3"))), Server::HalfClose(),
        Server::AwaitClose()},
       {Server::ExpectHead(), Server::Send(Ok(Page("C4"))), Server::Close()}});
  test::ConsoleOutcome run = RunOn(db, server.Port());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, kCompleted);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_TRUE(server.Failures().empty()) << server.Failures()[0];
  EXPECT_EQ(server.Accepted(), 4);
  for (int i = 0; i < 4; ++i) {
    const std::string received = server.Received(std::size_t(i));
    EXPECT_EQ(received.rfind(GetLine("/ana/t" + std::to_string(i + 1) + ".html"), 0), 0u)
        << received;
    EXPECT_EQ(received.find("-cifrada"), std::string::npos) << received;
  }
  auto stored = test::ReadStoredSongs(db.Path());
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(stored[i].Compositor, "C" + std::to_string(i)) << i;
}

TEST_F(SiteFaults, KeptConnectionDroppedAsTheNextRequestArrivesIsAskedOnceMore) {
  test::FirebirdDatabase db(Songs(3));
  // The server takes the next request and drops the connection without a byte of an answer,
  // as a server whose keep-alive time ran out just then does. The same address is asked again
  // on a fresh connection, not given up for the next one.
  Server server(
      {{Server::ExpectHead(), Server::Send(Ok(Page("C1"))), Server::ExpectHead(), Server::Close()},
       {Server::ExpectHead(), Server::Send(Ok(Page("C2"))), Server::ExpectHead(), Server::Reset()},
       {Server::ExpectHead(), Server::Send(Ok(Page("C3"))), Server::AwaitClose()}});
  test::ConsoleOutcome run = RunOn(db, server.Port());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, kCompleted);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_TRUE(server.Failures().empty()) << server.Failures()[0];
  EXPECT_EQ(server.Accepted(), 3);
  EXPECT_NE(server.Received(0).find(GetLine("/ana/t2.html")), std::string::npos);
  EXPECT_EQ(server.Received(1).rfind(GetLine("/ana/t2.html"), 0), 0u) << server.Received(1);
  EXPECT_NE(server.Received(1).find(GetLine("/ana/t3.html")), std::string::npos);
  EXPECT_EQ(server.Received(2).rfind(GetLine("/ana/t3.html"), 0), 0u) << server.Received(2);
  auto stored = test::ReadStoredSongs(db.Path());
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(stored[i].Compositor, "C" + std::to_string(i)) << i;
}

TEST_F(SiteFaults, GarbageAnswersLeaveTheirRowsAloneAndTheRunGoesOn) {
  std::mt19937 random(20261208);
  std::string noise(3000, '\0');
  for (char& c : noise) {
    c = char(random() & 0xFF);
    if (c == '\n') c = 'n';
  }
  static constexpr char kNulStatus[] = "\x00\x01\x02 lixo\r\nSem: dois pontos\r\n\r\n";
  const std::vector<std::string> garbage = {
      std::string(),  // a close without a byte
      noise,          // no line end at all
      std::string(kNulStatus, sizeof kNulStatus - 1) + Page("Lixo"),
      std::string(20000, 'A') + "\r\n\r\n" + Page("Longa"),  // over the longest line
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffffffffffffff\r\n" + Page("X"),
      // Refused whole answers: the connection is kept, and the server's close is met by the
      // next attempt.
      "HTTP/9.9 999 \xFF\xFE\r\nContent-Length: " + std::to_string(Page("Estranho").size()) +
          "\r\n\r\n" + Page("Estranho"),
      "HTTP/1.1 200 OK\r\nLocation: http://127.0.0.1:9/\r\nContent-Length: " +
          std::to_string(Page("Desviado").size()) + "\r\n\r\n" + Page("Desviado"),
  };
  const int garbageSongs = int(garbage.size());
  test::FirebirdDatabase db(Songs(garbageSongs + 1));
  std::vector<Server::Script> scripts;
  for (const std::string& answer : garbage)
    for (int attempt = 0; attempt < 3; ++attempt)
      scripts.push_back({Server::ExpectHead(), Server::Send(answer), Server::Close()});
  scripts.push_back(
      {Server::ExpectHead(), Server::Send(Ok(Page("Depois do lixo"))), Server::AwaitClose()});
  Server server(scripts);

  test::ConsoleOutcome run = RunOn(db, server.Port());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, kCompleted);
  ASSERT_TRUE(server.WaitDone()) << testing::PrintToString(server.Failures()) << server.Accepted();
  EXPECT_EQ(server.Accepted(), garbageSongs * 3 + 1);
  const char* suffixes[] = {".html", "-cifrada.html", "-traducao.html"};
  for (int song = 0; song < garbageSongs; ++song)
    for (int attempt = 0; attempt < 3; ++attempt) {
      const std::string line = GetLine("/ana/t" + std::to_string(song + 1) + suffixes[attempt]);
      EXPECT_EQ(server.Received(std::size_t(song * 3 + attempt)).rfind(line, 0), 0u)
          << "song " << song + 1 << " attempt " << attempt + 1;
    }
  auto stored = test::ReadStoredSongs(db.Path());
  for (int i = 1; i <= garbageSongs; ++i) EXPECT_EQ(stored[i].Compositor, std::nullopt) << i;
  EXPECT_EQ(stored[garbageSongs + 1].Compositor, "Depois do lixo");
}

TEST_F(SiteFaults, HundredMebibyteBodiesAreRefusedInEveryFraming) {
  constexpr std::size_t kHundredMiB = std::size_t(100) << 20;
  // The composer stands at the start: a client that kept the first part would store it.
  std::string body = Page("Gigante");
  body.resize(kHundredMiB, 'x');
  std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  constexpr std::size_t kChunk = std::size_t(1) << 20;
  for (std::size_t at = 0; at < body.size(); at += kChunk) {
    chunked += "100000\r\n";
    chunked.append(body, at, kChunk);
    chunked += "\r\n";
  }
  chunked += "0\r\n\r\n";
  const std::string close = "Connection: close\r\n";
  test::FirebirdDatabase db(Songs(3));
  Server server(
      {{Server::ExpectHead(), Server::Send(Ok(body)), Server::Close()},
       {Server::ExpectHead(), Server::Send(Ok(Page("Normal 1"), close)), Server::Close()},
       {Server::ExpectHead(), Server::Send("HTTP/1.0 200 OK\r\n\r\n" + body), Server::Close()},
       {Server::ExpectHead(), Server::Send(Ok(Page("Normal 2"), close)), Server::Close()},
       {Server::ExpectHead(), Server::Send(chunked), Server::Close()},
       {Server::ExpectHead(), Server::Send(Ok(Page("Normal 3"), close)), Server::Close()}},
      Server::Ms(20000), Server::Ms(60000));
  body.clear();
  body.shrink_to_fit();
  chunked.clear();
  chunked.shrink_to_fit();

  test::ConsoleOutcome run = RunOn(db, server.Port());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, kCompleted);
  EXPECT_EQ(server.Accepted(), 6);
  for (int song = 1; song <= 3; ++song) {
    EXPECT_EQ(server.Received(std::size_t(song * 2 - 2))
                  .rfind(GetLine("/ana/t" + std::to_string(song) + ".html"), 0),
              0u);
    EXPECT_EQ(server.Received(std::size_t(song * 2 - 1))
                  .rfind(GetLine("/ana/t" + std::to_string(song) + "-cifrada.html"), 0),
              0u);
  }
  auto stored = test::ReadStoredSongs(db.Path());
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(stored[i].Compositor, "Normal " + std::to_string(i));
}

TEST_F(SiteFaults, TenThousandSetCookieHeadersDoNotStopTheRun) {
  test::FirebirdDatabase db(Songs(3));
  test::LyricsSite site;
  site.AddPage("ana/t1.html", Page("Biscoito"));
  std::string headers;
  for (int i = 0; i < 10000; ++i)
    headers += "Set-Cookie: c" + std::to_string(i) + "=valor" + std::to_string(i) + "; path=/\n";
  site.AddPage("ana/t1.html.headers", headers);
  site.AddPage("ana/t2.html", Page("Bolacha"));
  site.AddPage("ana/t3-cifrada.html", Page("Rosquinha"));
  ASSERT_TRUE(site.Start());
  folder_.Settings(db.Path());
  test::ConsoleOutcome run = folder_.Run(site.BaseUrl());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, kCompleted);
  auto stored = test::ReadStoredSongs(db.Path());
  EXPECT_EQ(stored[1].Compositor, "Biscoito");
  EXPECT_EQ(stored[2].Compositor, "Bolacha");
  EXPECT_EQ(stored[3].Compositor, "Rosquinha");
  std::vector<std::string> expected = {"GET /ana/t1.html HTTP/1.1", "GET /ana/t2.html HTTP/1.1",
                                       "GET /ana/t3.html HTTP/1.1",
                                       "GET /ana/t3-cifrada.html HTTP/1.1"};
  EXPECT_EQ(site.RequestLines(), expected);
  // Every later request carries the cookies the store kept, not all ten thousand.
  const std::string log = test::ReadFile(site.Root() + "/../requests.log");
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
