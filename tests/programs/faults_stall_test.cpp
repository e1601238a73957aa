// A lyrics server that stops sending: before the status line, after the headers, in the middle
// of a body. The main window is driven in-process through the recording front-end with its
// HTTP client's read time limit lowered, so each stall costs half a second instead of thirty:
// the limit ends the attempt, the lookup moves on to the next address, the run completes and
// the button comes back.
#include <gtest/gtest.h>

#include "app/ComposerLookup.h"
#include "app/U_Principal.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/Process.h"
#include "tests/support/RecordingApplication.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/StoredSongs.h"

namespace {

using namespace std::chrono_literals;
using Server = test::ScriptedServer;

// Short enough for a quick suite, long enough that loopback answers never hit it.
constexpr int32_t kTestReadTimeoutMs = 500;

std::string Page(const std::string& composer) {
  return "<html><body><p>Letra.</p>\n<p>Compositor: " + composer + "</p>\n</body></html>\n";
}

std::string Ok(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string GetLine(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\n";
}

class Stalls : public testing::Test {
 protected:
  void TearDown() override { unsetenv(app::kLyricsAddressVariable); }

  std::unique_ptr<TFrmPrincipal> MakeWindow(const test::FirebirdDatabase& db, int port) {
    test::WriteFile(settings_.File(app::kSettingsFileName),
                    "[BANCO]\r\nCAMINHO=" + db.Path() + "\r\n");
    setenv(app::kLyricsAddressVariable, ("http://127.0.0.1:" + std::to_string(port) + "/").c_str(),
           1);
    app_.SetTitle(app::kApplicationTitle);
    auto window = std::make_unique<TFrmPrincipal>(app_);
    window->SettingsDirectory = settings_.Path() + "/";
    window->IdHTTP1->ReadTimeout = kTestReadTimeoutMs;
    return window;
  }
  test::RecordingButton* Button() { return app_.MainForm()->FindButton("btnBuscar"); }

  test::TempDir settings_;
  test::RecordingApplication app_;
};

TEST_F(Stalls, EveryStallEndsItsAttemptAndTheNextAddressIsTried) {
  test::FirebirdDatabase db({{1, "t1", "Ana", std::nullopt},
                             {2, "t2", "Ana", std::nullopt},
                             {3, "t3", "Ana", std::string("Antigo")},
                             {4, "t4", "Ana", std::nullopt}});
  const std::string half = Ok(Page("Nunca") + std::string(2000, 'x')).substr(0, 200);
  Server server(
      {// Song 1: headers, then nothing; the second address answers.
       {Server::ExpectHead(), Server::Send("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n"),
        Server::Stall(5s)},
       {Server::ExpectHead(), Server::Send(Ok(Page("Depois da espera"))),
        // Song 2, same connection: half a body, then nothing; the second address answers.
        Server::ExpectHead(), Server::Send(half), Server::Stall(5s)},
       {Server::ExpectHead(), Server::Send(Ok(Page("Meio corpo"))),
        // Song 3: not a byte of an answer, at all three addresses: the row keeps its value.
        Server::ExpectHead(), Server::Stall(5s)},
       {Server::ExpectHead(), Server::Stall(5s)},
       {Server::ExpectHead(), Server::Stall(5s)},
       // Song 4: the client is still usable.
       {Server::ExpectHead(), Server::Send(Ok(Page("Por fim"))), Server::AwaitClose()}},
      Server::Ms(10000), Server::Ms(60000));
  {
    auto window = MakeWindow(db, server.Port());
    app_.Run();
    ASSERT_TRUE(app_.Messages().empty()) << app_.Messages()[0];
    Button()->Click();
    EXPECT_EQ(app_.Messages(), std::vector<std::string>{app::kCompletedMessage});
    EXPECT_TRUE(app_.Failures().empty()) << app_.Failures()[0];
    EXPECT_TRUE(window->btnBuscar->Enabled());
    EXPECT_EQ(Button()->History(), (std::vector<bool>{false, true}));
    EXPECT_EQ(window->lblAtual->Caption(), "Registro atual: 4");
  }
  ASSERT_TRUE(server.WaitDone(10000ms));
  EXPECT_TRUE(server.Failures().empty()) << server.Failures()[0];
  EXPECT_EQ(server.Accepted(), 6);
  EXPECT_EQ(server.Received(0).rfind(GetLine("/ana/t1.html"), 0), 0u);
  const std::string second = server.Received(1);
  EXPECT_EQ(second.rfind(GetLine("/ana/t1-cifrada.html"), 0), 0u) << second;
  EXPECT_NE(second.find(GetLine("/ana/t2.html")), std::string::npos) << second;
  const std::string third = server.Received(2);
  EXPECT_EQ(third.rfind(GetLine("/ana/t2-cifrada.html"), 0), 0u) << third;
  EXPECT_NE(third.find(GetLine("/ana/t3.html")), std::string::npos) << third;
  EXPECT_EQ(server.Received(3).rfind(GetLine("/ana/t3-cifrada.html"), 0), 0u);
  EXPECT_EQ(server.Received(4).rfind(GetLine("/ana/t3-traducao.html"), 0), 0u);
  EXPECT_EQ(server.Received(5).rfind(GetLine("/ana/t4.html"), 0), 0u);

  auto stored = test::ReadStoredSongs(db.Path());
  EXPECT_EQ(stored[1].Compositor, "Depois da espera");
  EXPECT_EQ(stored[2].Compositor, "Meio corpo") << "never the half that came before the stall";
  EXPECT_EQ(stored[3].Compositor, "Antigo");
  EXPECT_EQ(stored[4].Compositor, "Por fim");
}

}  // namespace
