// A lyrics server that stops sending: before the status line, after the headers, in the middle
// of a body. The main window is driven in-process through the recording front-end with its
// HTTP client's read time limit lowered, so each stall costs half a second instead of thirty:
// the limit ends the attempt, the lookup moves on to the next address, the run completes and
// the button comes back.
#include <gtest/gtest.h>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/RecordedWindow.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SongRows.h"

namespace {

using namespace std::chrono_literals;
using Server = test::ScriptedServer;
using test::ComposerPage;
using test::PageAnswer;
using test::RequestLine;

// Short enough for a quick suite, long enough that loopback answers never hit it.
constexpr int32_t kTestReadTimeoutMs = 500;

TEST(Stalls, EveryStallEndsItsAttemptAndTheNextAddressIsTried) {
  test::FirebirdDatabase db({{1, "t1", "Ana", std::nullopt},
                             {2, "t2", "Ana", std::nullopt},
                             {3, "t3", "Ana", std::string("Antigo")},
                             {4, "t4", "Ana", std::nullopt}});
  const std::string half =
      PageAnswer(ComposerPage("Nunca") + std::string(2000, 'x')).substr(0, 200);
  Server server(
      {// Song 1: headers, then nothing; the second address answers.
       {Server::ExpectHead(), Server::Send("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n"),
        Server::Stall(5s)},
       {Server::ExpectHead(), Server::Send(PageAnswer(ComposerPage("Depois da espera"))),
        // Song 2, same connection: half a body, then nothing; the second address answers.
        Server::ExpectHead(), Server::Send(half), Server::Stall(5s)},
       {Server::ExpectHead(), Server::Send(PageAnswer(ComposerPage("Meio corpo"))),
        // Song 3: not a byte of an answer, at all three addresses: the row keeps its value.
        Server::ExpectHead(), Server::Stall(5s)},
       {Server::ExpectHead(), Server::Stall(5s)},
       {Server::ExpectHead(), Server::Stall(5s)},
       // Song 4: the client is still usable.
       {Server::ExpectHead(), Server::Send(PageAnswer(ComposerPage("Por fim"))),
        Server::AwaitClose()}},
      Server::Ms(10000), Server::Ms(60000));
  {
    test::RecordedWindow w("http://127.0.0.1:" + std::to_string(server.Port()) + "/");
    w.PointAt(db.Path());
    TFrmPrincipal& window = w.Open();
    window.IdHTTP1->ReadTimeout = kTestReadTimeoutMs;
    w.app.Run();
    ASSERT_EQ(w.app.Messages(), std::vector<std::string>{});
    w.Button().Click();
    EXPECT_EQ(w.app.Messages(), std::vector<std::string>{app::kCompletedMessage});
    EXPECT_EQ(w.app.Failures(), std::vector<std::string>{});
    EXPECT_TRUE(window.btnBuscar->Enabled());
    EXPECT_EQ(w.Button().History(), (std::vector<bool>{false, true}));
    EXPECT_EQ(window.lblAtual->Caption(), "Registro atual: 4");
  }
  ASSERT_TRUE(server.WaitDone(10000ms));
  EXPECT_EQ(server.Failures(), std::vector<std::string>{});
  EXPECT_EQ(server.Accepted(), 6);
  EXPECT_EQ(server.Received(0).rfind(RequestLine("/ana/t1.html"), 0), 0u);
  const std::string second = server.Received(1);
  EXPECT_EQ(second.rfind(RequestLine("/ana/t1-cifrada.html"), 0), 0u) << second;
  EXPECT_NE(second.find(RequestLine("/ana/t2.html")), std::string::npos) << second;
  const std::string third = server.Received(2);
  EXPECT_EQ(third.rfind(RequestLine("/ana/t2-cifrada.html"), 0), 0u) << third;
  EXPECT_NE(third.find(RequestLine("/ana/t3.html")), std::string::npos) << third;
  EXPECT_EQ(server.Received(3).rfind(RequestLine("/ana/t3-cifrada.html"), 0), 0u);
  EXPECT_EQ(server.Received(4).rfind(RequestLine("/ana/t3-traducao.html"), 0), 0u);
  EXPECT_EQ(server.Received(5).rfind(RequestLine("/ana/t4.html"), 0), 0u);
  // Song 2: never the half that came before the stall.
  EXPECT_EQ(
      test::StoredComposers(db.Path()),
      (test::Composers{{1, "Depois da espera"}, {2, "Meio corpo"}, {3, "Antigo"}, {4, "Por fim"}}));
}

}  // namespace
