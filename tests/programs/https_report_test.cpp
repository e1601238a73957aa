// lirenta-console as built over https on loopback, with certificates made for the run and the
// lookup report: the same composers as over http, one line per attempt in the report, every
// kind of broken secure connection failing only its attempt. The one
// case that needs a short read time limit (a stall in the handshake) drives the main window
// in-process instead.
#include <gtest/gtest.h>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/RecordedWindow.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SongRows.h"
#include "tests/support/StoredSongs.h"
#include "tests/support/TestCertificates.h"

namespace {

using namespace std::chrono_literals;
using S = test::ScriptedServer;
using test::ComposerPage;

const std::string kHeader = "codigo\tinterprete\tnome\tendereco\tresultado\tcompositor\tanterior";

// An answer after which the server closes, so that the next song opens a new connection.
std::string OkClose(const std::string& body) {
  return test::PageAnswer(body, "Connection: close\r\n");
}

// A report line, fields in the order of the header.
std::string Line(const std::string& code, const std::string& performer, const std::string& title,
                 const std::string& address, const std::string& outcome,
                 const std::string& composer = "", const std::string& stored = "") {
  return code + "\t" + performer + "\t" + title + "\t" + address + "\t" + outcome + "\t" +
         composer + "\t" + stored;
}

class Https : public testing::Test {
 protected:
  std::map<std::string, std::string> Trust() const { return {{"SSL_CERT_FILE", certs_.CaFile()}}; }
  const test::TestCertificates& certs_ = test::SharedCertificates();
  test::ProgramFolder folder_;
  test::TempDir files_;
};

TEST_F(Https, SameComposersAsHttpAndOneReportLinePerAttemptAppendedWithOneHeader) {
  const std::vector<test::Song> songs = {{1, "Achada", "Ana", std::nullopt},
                                         {2, "Cifra", "Ana", std::nullopt},
                                         {3, "Falta", "Ana", std::string("Antigo")},
                                         {4, "Linha\nDois", "Ana\\Tab\t", std::nullopt},
                                         {5, "Can\xE7\xE3o", "Jo\xE3o", std::nullopt}};
  auto fill = [](test::LyricsSite& site) {
    site.AddComposerPage("ana/achada.html", "Compositora Um");
    site.AddComposerPage("ana/cifra-cifrada.html", "Dois\tDuas");
    site.AddComposerPage("joao/cancao.html", "Jos\xE9");
    EXPECT_TRUE(site.Start());
  };
  test::LyricsSite plain;
  test::LyricsSite secure({"--cert", certs_.Trusted().cert, "--key", certs_.Trusted().key});
  fill(plain);
  fill(secure);

  test::FirebirdDatabase overHttp(songs);
  folder_.Settings(overHttp.Path());
  test::ProgramOutcome run = folder_.Run(plain.BaseUrl());
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  test::FirebirdDatabase overHttps(songs);
  folder_.Settings(overHttps.Path());
  const std::string report = files_.File("relat\xC3\xB3rio.tsv");
  auto env = Trust();
  env["LIRENTA_REPORT"] = report;
  run = folder_.Run(secure.SecureUrl(), {}, env);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);

  const auto https = test::StoredComposers(overHttps.Path());
  EXPECT_EQ(https, test::StoredComposers(overHttp.Path()));
  EXPECT_EQ(https.at(1), "Compositora Um");
  EXPECT_EQ(https.at(3), "Antigo");
  EXPECT_EQ(secure.RequestLines(), plain.RequestLines());

  const std::string base = secure.SecureUrl();
  const std::string refused = "Invalid line break or NUL character in request.";
  const std::string broken = "Ana\\\\Tab\\t\tLinha\\nDois\t" + base + "ana-tab/linha\\ndois";
  const std::vector<std::string> expected = {
      kHeader,
      Line("1", "Ana", "Achada", base + "ana/achada.html", "200 OK", "Compositora Um"),
      Line("2", "Ana", "Cifra", base + "ana/cifra.html", "404 Not Found"),
      Line("2", "Ana", "Cifra", base + "ana/cifra-cifrada.html", "200 OK", "Dois Duas"),
      Line("3", "Ana", "Falta", base + "ana/falta.html", "404 Not Found", "", "Antigo"),
      Line("3", "Ana", "Falta", base + "ana/falta-cifrada.html", "404 Not Found", "", "Antigo"),
      Line("3", "Ana", "Falta", base + "ana/falta-traducao.html", "404 Not Found", "", "Antigo"),
      "4\t" + broken + ".html\t" + refused + "\t\t",
      "4\t" + broken + "-cifrada.html\t" + refused + "\t\t",
      "4\t" + broken + "-traducao.html\t" + refused + "\t\t",
      Line("5", test::Utf8("Jo\xE3o"), test::Utf8("Can\xE7\xE3o"), base + "joao/cancao.html",
           "200 OK", test::Utf8("Jos\xE9")),
  };
  EXPECT_EQ(test::ReadLines(report), expected);

  // A second run, on a site whose certificate has expired, appends without a second header;
  // the command line names the file this time. A refused certificate is the site's trouble,
  // and with no wait allowed the run stops at its first song and says why.
  test::LyricsSite expired({"--cert", certs_.Expired().cert, "--key", certs_.Expired().key});
  fill(expired);
  test::FirebirdDatabase one({{7, "Achada", "Ana", std::nullopt}});
  folder_.Settings(one.Path());
  run = folder_.Run(expired.SecureUrl(), {"--report", report, "--max-wait", "0"}, Trust());
  EXPECT_EQ(run.status, 3) << run.out << run.err;
  EXPECT_EQ(run.out, test::Utf8("O site de letras n\xE3o respondeu por 0 s (Certificate refused: "
                                "certificate has expired). Parado ap\xF3s 0 de 1 m\xFAsicas; as "
                                "altera\xE7\xF5"
                                "es at\xE9 aqui foram gravadas.\n"));
  EXPECT_TRUE(expired.RequestLines().empty());
  std::vector<std::string> appended = expected;
  for (const char* suffix : {"", "-cifrada", "-traducao"})
    appended.push_back(Line("7", "Ana", "Achada",
                            expired.SecureUrl() + "ana/achada" + suffix + ".html",
                            "Certificate refused: certificate has expired"));
  EXPECT_EQ(test::ReadLines(report), appended);
  EXPECT_EQ(test::StoredComposers(one.Path()).at(7), std::nullopt);
}

TEST_F(Https, EveryBrokenSecureConnectionFailsOnlyItsAttempt) {
  // Song n's first address meets the n-th fault; its second is served on a new connection.
  struct Fault {
    S::Script script;
    std::string outcome;
  };
  const std::string page = OkClose(ComposerPage("Nunca") + std::string(4000, 'x'));
  const std::vector<Fault> faults = {
      {{S::RefusedTls(certs_.UnknownIssuer())},
       "Certificate refused: unable to get local issuer certificate"},
      {{S::RefusedTls(certs_.OtherName())}, "Certificate refused: IP address mismatch"},
      {{S::RefusedTls(certs_.Expired())}, "Certificate refused: certificate has expired"},
      {{S::Expect(1), S::Send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"), S::Close()},
       "TLS handshake failed: wrong version number"},
      {{S::StartTls(certs_.Trusted()), S::ExpectHead(), S::Send(page.substr(0, 1500)), S::Reset()},
       "Socket Error # 10054\\r\\nConnection reset by peer."},
  };
  std::vector<S::Script> scripts;
  test::Composers composers;
  for (std::size_t i = 0; i < faults.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    scripts.push_back(faults[i].script);
    scripts.push_back({S::StartTls(certs_.Trusted()), S::ExpectHead(),
                       S::Send(OkClose(ComposerPage("C" + n))), S::Close()});
    composers[int(i) + 1] = "C" + n;
  }
  S server(scripts);
  test::FirebirdDatabase db(test::NumberedSongs(int(faults.size())));
  folder_.Settings(db.Path());
  const std::string report = files_.File("report.tsv");
  const std::string base = "https://127.0.0.1:" + std::to_string(server.Port()) + "/";
  test::ProgramOutcome run = folder_.Run(base, {"--report", report}, Trust());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Failures(), std::vector<std::string>{});
  EXPECT_EQ(test::StoredComposers(db.Path()), composers);

  std::vector<std::string> expected = {kHeader};
  for (std::size_t i = 0; i < faults.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    // No request goes out before the connection is secure.
    if (i < 4) {
      EXPECT_EQ(server.Received(2 * i).find("GET "), std::string::npos) << faults[i].outcome;
    }
    expected.push_back(Line(n, "Ana", "t" + n, base + "ana/t" + n + ".html", faults[i].outcome));
    expected.push_back(
        Line(n, "Ana", "t" + n, base + "ana/t" + n + "-cifrada.html", "200 OK", "C" + n));
  }
  EXPECT_EQ(test::ReadLines(report), expected);
}

TEST_F(Https, StallDuringTheHandshakeEndsItsAttemptAtTheReadTimeLimit) {
  test::FirebirdDatabase db({{1, "t1", "Ana", std::nullopt}});
  S server({{S::Stall(5s)},
            {S::StartTls(certs_.Trusted()), S::ExpectHead(),
             S::Send(OkClose(ComposerPage("Depois"))), S::Close()}},
           S::Ms(10000), S::Ms(30000));
  const std::string base = "https://127.0.0.1:" + std::to_string(server.Port()) + "/";
  const std::string report = files_.File("report.tsv");
  setenv("SSL_CERT_FILE", certs_.CaFile().c_str(), 1);
  {
    test::RecordedWindow w(base);
    w.PointAt(db.Path());
    TFrmPrincipal& window = w.Open();
    window.Options.reportFile = report;
    window.IdHTTP1->ReadTimeout = 300;
    w.ShowAndClick();
  }
  EXPECT_EQ(test::StoredComposers(db.Path()).at(1), "Depois");
  EXPECT_EQ(test::ReadLines(report),
            (std::vector<std::string>{
                kHeader, Line("1", "Ana", "t1", base + "ana/t1.html", "Read Timeout"),
                Line("1", "Ana", "t1", base + "ana/t1-cifrada.html", "200 OK", "Depois")}));
}

TEST_F(Https, UnwritableReportStopsTheRunBeforeItStarts) {
  test::LyricsSite site;
  site.AddComposerPage("ana/achada.html", "Nunca");
  ASSERT_TRUE(site.Start());
  test::FirebirdDatabase db({{1, "Achada", "Ana", std::nullopt}});
  folder_.Settings(db.Path());
  const std::string report = files_.File("falta/report.tsv");
  test::ProgramOutcome run = folder_.Run(site.BaseUrl(), {"--report", report});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, test::Utf8("N\xE3o foi poss\xEDvel abrir o relat\xF3rio ") + report +
                         ": No such file or directory.\n");
  EXPECT_TRUE(site.RequestLines().empty());
  EXPECT_EQ(test::StoredComposers(db.Path()).at(1), std::nullopt);
}

}  // namespace
