// lirenta-console as built against two fixture sites, a plain one and one over TLS, whose pages
// redirect (their .headers files give the status and the Location): relative and absolute
// Locations, another port and http on to https, 303, a 307 then a 308, a loop, an https page sent
// back to http, a 200 that carries a Location. One report line per request, the redirects
// included, each with its status.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/SongRows.h"
#include "tests/support/TestCertificates.h"

namespace {

// "code address outcome composer" of each line of a report, the header left out.
std::vector<std::string> Requests(const std::string& report) {
  std::vector<std::string> requests;
  for (const std::string& line : test::ReadLines(report)) {
    std::vector<std::string> fields;
    for (std::size_t at = 0, tab; at <= line.size(); at = tab + 1) {
      tab = std::min(line.find('\t', at), line.size());
      fields.push_back(line.substr(at, tab - at));
    }
    if (fields.at(0) != "codigo")
      requests.push_back(fields.at(0) + " " + fields.at(3) + " " + fields.at(4) + " " +
                         fields.at(5));
  }
  return requests;
}

TEST(Redirects, AreFollowedWithinTheirRulesAndEveryRequestHasItsReportLine) {
  const test::TestCertificates& certs = test::SharedCertificates();
  test::LyricsSite plain;
  test::LyricsSite secure({"--cert", certs.Trusted().cert, "--key", certs.Trusted().key});
  ASSERT_TRUE(plain.Start());
  ASSERT_TRUE(secure.Start());
  const std::string a = plain.BaseUrl(), b = secure.SecureUrl();
  // A page that redirects: its body is never searched.
  auto redirect = [](test::LyricsSite& site, const std::string& path, const std::string& status,
                     const std::string& location, const std::string& more = "") {
    site.AddComposerPage(path, "Nunca");
    site.AddPage(path + ".headers", "Status: " + status + "\nLocation: " + location + "\n" + more);
  };
  auto page = [](test::LyricsSite& site, const std::string& path, int song) {
    site.AddComposerPage(path, test::NumberedComposer(song));
  };
  redirect(plain, "ana/t1.html", "301 Moved Permanently", "novo/t1.html");
  page(plain, "ana/novo/t1.html", 1);
  redirect(plain, "ana/t2.html", "302 Found", b + "ana/t2.html");
  page(secure, "ana/t2.html", 2);
  redirect(plain, "ana/t3.html", "303 See Other", "/ana/visto/t3.html",
           "Set-Cookie: visto=sim; path=/\n");
  page(plain, "ana/visto/t3.html", 3);
  redirect(plain, "ana/t4.html", "307 Temporary Redirect", "t4-b.html");
  redirect(plain, "ana/t4-b.html", "308 Permanent Redirect", "../ana/./t4-c.html");
  page(plain, "ana/t4-c.html", 4);
  redirect(plain, "ana/t5.html", "302 Found", "t5-b.html");
  redirect(plain, "ana/t5-b.html", "302 Found", a + "ana/t5.html");
  page(plain, "ana/t5-cifrada.html", 5);
  page(plain, "ana/t6.html", 6);
  plain.AddPage("ana/t6.html.headers", "Location: http://127.0.0.1:1/longe.html\n");
  redirect(plain, "ana/t7.html", "301 Moved Permanently", b + "ana/t7.html");
  redirect(secure, "ana/t7.html", "301 Moved Permanently", a + "ana/t7-plano.html");
  page(plain, "ana/t7-plano.html", 7);

  test::FirebirdDatabase db(test::NumberedSongs(7));
  test::ProgramFolder folder;
  folder.Settings(db.Path());
  test::TempDir files;
  const std::string report = files.File("r.tsv");
  const test::ProgramOutcome run =
      folder.Run(a, {"--report", report}, {{"SSL_CERT_FILE", certs.CaFile()}});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  EXPECT_NE(run.err.find(test::SummaryLine(7, 6, 6, 0)), std::string::npos) << run.err;

  auto found = [](int song) { return test::Utf8(test::NumberedComposer(song)); };
  EXPECT_EQ(
      Requests(report),
      (std::vector<std::string>{
          "1 " + a + "ana/t1.html 301 Moved Permanently ",
          "1 " + a + "ana/novo/t1.html 200 OK " + found(1),
          "2 " + a + "ana/t2.html 302 Found ",
          "2 " + b + "ana/t2.html 200 OK " + found(2),
          "3 " + a + "ana/t3.html 303 See Other ",
          "3 " + a + "ana/visto/t3.html 200 OK " + found(3),
          "4 " + a + "ana/t4.html 307 Temporary Redirect ",
          "4 " + a + "ana/t4-b.html 308 Permanent Redirect ",
          "4 " + a + "ana/t4-c.html 200 OK " + found(4),
          "5 " + a + "ana/t5.html 302 Found ",
          "5 " + a + "ana/t5-b.html 302 Found (redirect loop) ",
          "5 " + a + "ana/t5-cifrada.html 200 OK " + found(5),
          "6 " + a + "ana/t6.html 200 OK " + found(6),
          "7 " + a + "ana/t7.html 301 Moved Permanently ",
          "7 " + b + "ana/t7.html 301 Moved Permanently (redirect from https to http refused) ",
          "7 " + a + "ana/t7-cifrada.html 404 Not Found ",
          "7 " + a + "ana/t7-traducao.html 404 Not Found ",
      }));
  test::Composers expected;
  for (int song = 1; song <= 6; ++song) expected[song] = test::NumberedComposer(song);
  expected[7] = std::nullopt;
  EXPECT_EQ(test::StoredComposers(db.Path()), expected);
  // The plain side of the refused redirect was never asked; the cookie set by a redirect went
  // with the request it led to.
  const std::vector<std::string> asked = plain.RequestLines();
  EXPECT_EQ(std::count(asked.begin(), asked.end(), "GET /ana/t7-plano.html HTTP/1.1"), 0);
  const std::string heads = plain.RequestLog();
  const std::size_t visto = heads.find("GET /ana/visto/t3.html HTTP/1.1\r\n");
  ASSERT_NE(visto, std::string::npos);
  const std::string head = heads.substr(visto, heads.find("\r\n\r\n", visto) - visto);
  EXPECT_NE(head.find("\r\nCookie: visto=sim"), std::string::npos) << head;
}

}  // namespace
