// lirenta-console as built against a Firebird server as one is installed: SYSDBA's password is
// random (the test alone knows it), and the run logs in as a user of its own granted nothing but
// SELECT and UPDATE on Tb_Musicas. The login comes from the environment or from BaseKavro.ini
// and its password shows in no output, report or trace entry; a server that dies during a run
// ends it at once with one line, and the database then holds exactly the rows the summary
// counted as written.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <iostream>
#include <regex>
#include <thread>

#include "app/U_Principal.h"
#include "db/IBSQLMonitor.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/RecordedWindow.h"
#include "tests/support/SongRows.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kUser = "ANA";
// Texts no output of the programs holds but a password.
const std::string kPassword = "Senha-da-Ana-4711";
const std::string kWrongPassword = "Senha-Errada-0815";
// The engine's reason for a refused login.
constexpr const char* kRefusedLogin = "Your user name and password are not defined";
const std::string kDryRunLine = test::Utf8(
    "Simula\xE7\xE3o conclu\xED"
    "da. Nada foi gravado.\n");

// The lines of BaseKavro.ini that log in as `user` with `password`; empty ones are left out.
std::string LoginLines(const std::string& user, const std::string& password) {
  return (user.empty() ? "" : "USUARIO=" + user + "\r\n") +
         (password.empty() ? "" : "SENHA=" + password + "\r\n");
}

// The login's environment; an empty value stands for none, whatever the test's own holds.
std::map<std::string, std::string> LoginEnvironment(const std::string& user,
                                                    const std::string& password) {
  return {{"ISC_USER", user}, {"ISC_PASSWORD", password}};
}

// The number before `words` in `text` ("Resumo: ..., 7 registros gravados"); -1 when absent.
int CountBefore(const std::string& text, const std::string& words) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex("([0-9]+) " + words))) return -1;
  return std::stoi(match[1]);
}

class InstalledServer : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(server_, nullptr) << "no Firebird server: " << test::FirebirdServer::Reason();
    // A test that failed while the server was away leaves it down.
    std::string reason;
    ASSERT_TRUE(server_->Start(reason)) << reason;
  }
  // `songs` numbered songs, each with its page on a site started with `siteArgs`; the user is
  // made (again) with only the rights a run needs.
  void Songs(int songs, std::vector<std::string> siteArgs = {}) {
    site_ = std::make_unique<test::LyricsSite>(std::move(siteArgs));
    for (int i = 1; i <= songs; ++i)
      site_->AddComposerPage(test::NumberedPage(i), test::NumberedComposer(i));
    ASSERT_TRUE(site_->Start());
    db_ = std::make_unique<test::FirebirdDatabase>(test::NumberedSongs(songs));
    std::string output;
    ASSERT_EQ(server_->IsqlAsSysdba(std::string("CREATE OR ALTER USER ") + kUser + " PASSWORD '" +
                                        kPassword + "';\nGRANT SELECT, UPDATE ON Tb_Musicas TO " +
                                        kUser + ";\nCOMMIT;\n",
                                    db_->Path(), output),
              0)
        << output;
    connect_ = server_->ConnectString(db_->Path());
  }
  // The composers as the user reads them.
  test::Composers Stored() {
    return test::StoredComposers(connect_,
                                 {std::string("user_name=") + kUser, "password=" + kPassword});
  }
  int StoredCount() {
    int count = 0;
    for (const auto& [code, composer] : Stored()) count += composer.has_value();
    return count;
  }
  void Forget() {
    std::string output;
    ASSERT_EQ(server_->IsqlAsSysdba("UPDATE Tb_Musicas SET Mus_Compositor = NULL;\nCOMMIT;\n",
                                    db_->Path(), output),
              0)
        << output;
  }

  test::FirebirdServer* server_ = test::FirebirdServer::Instance(test::SysdbaPassword::Random);
  std::unique_ptr<test::FirebirdDatabase> db_;
  std::unique_ptr<test::LyricsSite> site_;
  std::string connect_;
};

TEST_F(InstalledServer, LoginComesFromTheEnvironmentElseTheFileAndItsPasswordShowsNowhere) {
  constexpr int kSongs = 3;
  Songs(kSongs);
  const std::string warning = "qualquer usu\xC3\xA1rio pode ler ";
  struct Case {
    std::string name;
    std::map<std::string, std::string> env;
    std::string fileLines;
    mode_t mode;
    std::vector<std::string> args;
    bool runs;  // else the login is refused
    bool warns;
  };
  const std::vector<Case> cases = {
      {"environment", LoginEnvironment(kUser, kPassword), "", 0644, {}, true, false},
      {"file 0600", LoginEnvironment("", ""), LoginLines(kUser, kPassword), 0600, {}, true, false},
      {"file 0640", LoginEnvironment("", ""), LoginLines(kUser, kPassword), 0640, {}, true, false},
      {"file 0644", LoginEnvironment("", ""), LoginLines(kUser, kPassword), 0644, {}, true, true},
      {"environment over the file",
       LoginEnvironment(kUser, kPassword),
       LoginLines("SYSDBA", kWrongPassword),
       0600,
       {},
       true,
       false},
      {"user from the file, password from the environment",
       LoginEnvironment("", kPassword),
       LoginLines(kUser, ""),
       0600,
       {},
       true,
       false},
      {"dry run", LoginEnvironment(kUser, kPassword), "", 0644, {"--dry-run"}, true, false},
      {"wrong password",
       LoginEnvironment("", kWrongPassword),
       LoginLines(kUser, kPassword),
       0600,
       {},
       false,
       false},
      {"wrong password in a file others read",
       LoginEnvironment("", ""),
       LoginLines(kUser, kWrongPassword),
       0644,
       {},
       false,
       true},
      {"no login at all", LoginEnvironment("", ""), "", 0644, {}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Forget();
    test::ProgramFolder folder;
    const std::string settings = folder.Settings(connect_, c.fileLines, c.mode);
    const std::string report = folder.Folder().File("report.tsv");
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--report", report});
    const test::ProgramOutcome run = folder.Run(site_->BaseUrl(), args, c.env);
    const bool dry = !c.args.empty();
    if (c.runs) {
      EXPECT_EQ(run.status, 0) << run.out << run.err;
      EXPECT_EQ(run.out, dry ? kDryRunLine : test::kCompletedLine);
      EXPECT_NE(run.err.find(test::SummaryLine(kSongs, kSongs, dry ? 0 : kSongs, 0)),
                std::string::npos)
          << run.err;
      EXPECT_EQ(StoredCount(), dry ? 0 : kSongs);
    } else {
      EXPECT_EQ(run.status, 1) << run.out << run.err;
      EXPECT_EQ(run.out, test::kConnectFailedLine);
      EXPECT_NE(run.err.find(kRefusedLogin), std::string::npos) << run.err;
    }
    const std::size_t warned = run.err.find(warning + settings + ", que guarda a senha");
    EXPECT_EQ(warned != std::string::npos, c.warns) << run.err;
    if (warned != std::string::npos) {
      EXPECT_NE(run.err.find("chmod 600 " + settings), std::string::npos) << run.err;
      EXPECT_EQ(run.err.find(warning, warned + 1), std::string::npos) << "warned twice";
    }
    const std::string reportText = test::ReadFile(report);
    for (const std::string& secret : {kPassword, kWrongPassword, server_->Sysdba()})
      for (const std::string* output : {&run.out, &run.err, &reportText})
        EXPECT_EQ(output->find(secret), std::string::npos) << *output;
  }
}

TEST_F(InstalledServer, TraceAndWindowHoldNoPasswordWhetherTheLoginIsRefusedOrTaken) {
  Songs(2);
  // The login is the settings file's alone, whatever this process's environment holds.
  unsetenv("ISC_USER");
  unsetenv("ISC_PASSWORD");
  std::vector<std::string> trace;
  const int listener =
      MonitorHook()->AddListener([&](const TTraceEntry& entry) { trace.push_back(entry.Text); });
  for (const std::string& password : {kWrongPassword, kPassword}) {
    const bool refused = password == kWrongPassword;
    test::RecordedWindow w(site_->BaseUrl());
    w.Settings("[BANCO]\r\nCAMINHO=" + connect_ + "\r\n" + LoginLines(kUser, password));
    // The refused login's file any user may read: the window, which connects again on every
    // press, says so once.
    chmod(w.Folder().File(app::kSettingsFileName).c_str(), refused ? 0644 : 0600);
    TFrmPrincipal& window = w.Open();
    // Everything the connection can offer the trace.
    window.DB_Kavro->TraceFlags = kAllTraceFlags;
    w.ShowAndClick();
    const std::vector<std::string>& said = w.app.Diagnostics();
    if (refused) {
      EXPECT_EQ(w.app.Messages(), std::vector<std::string>(2, app::kConnectFailedMessage));
      ASSERT_EQ(said.size(), 3u);
      EXPECT_EQ(said[0].rfind("Aviso: qualquer usu\xE1rio pode ler ", 0), 0u) << said[0];
      for (std::size_t i : {1, 2})
        EXPECT_NE(said[i].find(kRefusedLogin), std::string::npos) << said[i];
    } else {
      EXPECT_EQ(w.app.Messages(), std::vector<std::string>{app::kCompletedMessage});
      EXPECT_EQ(said, std::vector<std::string>{});
    }
    std::vector<std::string> shown = w.app.Messages();
    shown.insert(shown.end(), said.begin(), said.end());
    shown.insert(shown.end(), w.app.Failures().begin(), w.app.Failures().end());
    shown.insert(shown.end(), trace.begin(), trace.end());
    for (const std::string& text : shown) EXPECT_EQ(text.find(password), std::string::npos) << text;
  }
  MonitorHook()->RemoveListener(listener);
  // The trace saw the run: its connect and its updates.
  EXPECT_GE(trace.size(), 4u);
}

// The server goes away during a run: killed, or stopped as a restart stops it. The run ends at
// once with its line, the database holds exactly what the summary counted as written, and a run
// with --only-missing finishes the rest.
class ServerGoesAway : public InstalledServer, public testing::WithParamInterface<bool> {};

TEST_P(ServerGoesAway, RunEndsAtOnceKeepsWhatItCommittedAndOnlyMissingFinishesTheRest) {
  const bool kill = GetParam();
  // 50 ms per page: the run takes seconds, commits every two, and waits for the site most of
  // the time, when no database call is under way. Run by an ordinary user, from a file of hers.
  constexpr int kSongs = 120;
  Songs(kSongs, {"--delay-ms", "50"});
  test::ProgramFolder folder("lirenta-console", test::kNobody);
  folder.Settings(connect_, LoginLines(kUser, kPassword), 0600);
  const auto noEnvironmentLogin = LoginEnvironment("", "");
  auto first = folder.Start(site_->BaseUrl(), {}, noEnvironmentLogin);
  const auto until = std::chrono::steady_clock::now() + 30s;
  while (StoredCount() == 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(100ms);
  ASSERT_GT(StoredCount(), 0) << "nothing committed: " << first->Stderr();
  // Songs written after that commit and not yet committed are lost with the server.
  std::this_thread::sleep_for(1s);
  if (kill)
    server_->Kill();
  else
    server_->Stop();
  const auto killed = std::chrono::steady_clock::now();

  const auto status = first->Wait(20s);
  ASSERT_TRUE(status.has_value()) << "the run did not end: " << first->Stderr();
  const auto ended = std::chrono::steady_clock::now() - killed;
  EXPECT_LT(ended, 5s);
  EXPECT_EQ(*status, 1) << first->Stdout() << first->Stderr();
  const std::string err = first->Stderr();
  const int written = CountBefore(err, "registros gravados");
  const int lookedUp = CountBefore(err, test::Utf8("m\xFAsicas consultadas"));
  ASSERT_GT(written, 0) << err;
  const std::string line =
      "A conex\xC3\xA3o com a Base de Dados foi perdida \\((Error (reading data from|writing data "
      "to) the connection|connection shutdown)\\)\\. Parado ap\xC3\xB3s ([0-9]+) de " +
      std::to_string(kSongs) + " m\xC3\xBAsicas; os " + std::to_string(written) +
      " registros gravados at\xC3\xA9 a \xC3\xBAltima confirma\xC3\xA7\xC3\xA3o foram mantidos; "
      "termine com --only-missing\\.\n";
  std::smatch match;
  const std::string out = first->Stdout();
  std::cout << "ended " << std::chrono::duration_cast<std::chrono::milliseconds>(ended).count()
            << " ms after the server went: " << out;
  ASSERT_TRUE(std::regex_match(out, match, std::regex(line))) << out;
  EXPECT_GE(std::stoi(match[3]), written);
  EXPECT_LT(std::stoi(match[3]), kSongs);
  EXPECT_LE(written, lookedUp);

  std::string reason;
  ASSERT_TRUE(server_->Start(reason)) << reason;
  EXPECT_EQ(StoredCount(), written);

  const test::ProgramOutcome second =
      folder.Run(site_->BaseUrl(), {"--only-missing"}, noEnvironmentLogin);
  EXPECT_EQ(second.status, 0) << second.out << second.err;
  EXPECT_EQ(second.out, test::kCompletedLine);
  EXPECT_NE(second.err.find(
                test::SummaryLine(kSongs - written, kSongs - written, kSongs - written, written)),
            std::string::npos)
      << second.err;
  test::Composers expected;
  for (int i = 1; i <= kSongs; ++i) expected[i] = test::NumberedComposer(i);
  EXPECT_EQ(Stored(), expected);
}

INSTANTIATE_TEST_SUITE_P(KilledOrStopped, ServerGoesAway, testing::Bool(),
                         [](const auto& info) { return info.param ? "Killed" : "Stopped"; });

}  // namespace
