// The one slow case: lirenta-console as built, with its stored thirty-second read time limit,
// against a lyrics server that sends the headers of an answer and then nothing. The limit ends
// that attempt, the next address is tried and the run completes.
#include <gtest/gtest.h>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SongRows.h"

namespace {

using namespace std::chrono_literals;
using Server = test::ScriptedServer;

TEST(SlowStall, StoredReadTimeLimitMovesTheProgramOnToTheNextAddress) {
  test::FirebirdDatabase db({{1, "Espera", "Ana", std::nullopt}});
  // Longer than the program's limit: only the limit can end this stall.
  Server server(
      {{Server::ExpectHead(),
        Server::Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nCompositor"),
        Server::Stall(50s)},
       {Server::ExpectHead(), Server::Send(test::PageAnswer("<p>Compositor: Paciente</p>")),
        Server::AwaitClose()}},
      Server::Ms(55000), Server::Ms(70000));
  test::ProgramFolder folder;
  folder.Settings(db.Path());
  test::ProgramOutcome run = folder.Run("http://127.0.0.1:" + std::to_string(server.Port()) + "/");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  // Had the stall's end (a close) ended the attempt instead, the cut body would have counted
  // as the page and the second address would never have been asked for.
  ASSERT_TRUE(server.WaitDone(10000ms));
  EXPECT_EQ(server.Received(0).rfind("GET /ana/espera.html HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(server.Received(1).rfind("GET /ana/espera-cifrada.html HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(test::StoredComposers(db.Path())[1], "Paciente");
}

}  // namespace
