// lirenta-console as built over songs whose performers and titles hold what real databases hold
// now and then (line breaks, control characters, quotes, semicolons, "%", "#", 45 accented
// letters, NULLs, a no-break space) and against pages whose composer is odd (an end marker
// without its ">", a NUL byte, a line break, 10 MB of text before the marker). No request is
// split, nothing crashes, and every row ends with the right composer or keeps its value.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/ConsoleRun.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/Process.h"
#include "tests/support/StoredSongs.h"

namespace {

const std::string kCompleted = test::Utf8(
                                   "Atualiza\xE7\xE3o conclu\xED"
                                   "da.") +
                               "\n";

std::string Page(const std::string& composer) {
  return "<html><body><p>Letra.</p>\n<p>Compositor: " + composer + "</p>\n</body></html>\n";
}

// A SQL expression for `text` that keeps control bytes, which isql-fb would drop or change
// inside a literal.
std::string SqlText(const std::string& text) {
  std::string sql, literal;
  auto flush = [&] {
    if (literal.empty()) return;
    sql += (sql.empty() ? "'" : " || '") + literal + "'";
    literal.clear();
  };
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      flush();
      sql += (sql.empty() ? "" : " || ") + std::string("ASCII_CHAR(") + std::to_string(byte) + ")";
    } else {
      literal += c;
      if (c == '\'') literal += c;
    }
  }
  flush();
  return sql.empty() ? "''" : sql;
}

// Nine accented letters, five times over: 45 characters.
std::string Accents45() {
  std::string text;
  for (int i = 0; i < 5; ++i) text += "\xE7\xE3\xE9\xED\xF5\xFA\xC7\xC3\xC9";
  return text;
}

TEST(BadRows, OddPerformersTitlesAndPagesGiveTheRightComposerOrNone) {
  const std::string injected = "Ana\r\nX-Injetado: sim";
  const std::string controls = "Ca\x01r\x1Blos\tDois\x7F";
  const std::string quoted = "D'\xC1vila; \"Z\xE9\"";
  const std::string sqlComposer = "O'Neil; DROP TABLE Tb_Musicas; --";
  const std::string nulComposer("Ana\0Reis", 8);
  const std::string padded = "\r\n\tBeto \r\n";
  std::vector<test::Song> songs = {
      {1, "t1", "-", std::nullopt},
      {2, "t2", "-", std::nullopt},
      {3, "t3", "-", std::nullopt},
      {4, "Sem; fim'", quoted, std::nullopt},
      {5, "%0D%0AX-Injetado: %00", "100% Samba", std::nullopt},
      {6, Accents45(), std::string(45, '\xD1'), std::nullopt},
      {8, "t8",
       "\xA0"
       "Ana\xA0",
       std::nullopt},
      {9, "t9", "Ana", std::string("Antigo")},
      {10, "t10", "Ana", std::nullopt},
      {11, "t11", "Ana", std::nullopt},
      {12, "t12", "Ana", std::nullopt},
      {13, "N\xBA #1", "Ana", std::string("Antigo")},
      {14, "t14", "Ana", std::nullopt},
  };
  test::FirebirdDatabase db(songs,
                            "INSERT INTO Tb_Musicas VALUES (7, NULL, NULL, 'Antigo');\n"
                            "UPDATE Tb_Musicas SET MUS_INTERPRETE = " +
                                SqlText(injected) +
                                " WHERE MUS_CODIGO = 1;\n"
                                "UPDATE Tb_Musicas SET MUS_INTERPRETE = " +
                                SqlText(padded) +
                                " WHERE MUS_CODIGO = 2;\n"
                                "UPDATE Tb_Musicas SET MUS_INTERPRETE = " +
                                SqlText(controls) + " WHERE MUS_CODIGO = 3;");

  test::LyricsSite site;
  site.AddPage("beto/t2.html", Page("Beto Comp"));
  site.AddPage("ca\x01r\x1Blos\tdois\x7F/t3.html", Page("Controle"));
  site.AddPage("d'avila;--ze/sem;-fim'.html", Page(sqlComposer));
  site.AddPage("100%-samba/%0d%0ax-injetado--%00.html", Page("50% \"Ana\""));
  site.AddPage(std::string(45, '\xD1') + "/" + std::string("caeioucae") + "caeioucae" +
                   "caeioucae" + "caeioucae" + "caeioucae" + ".html",
               "<p>Compositor:" + std::string(50, '\xC1') + "</p>");
  site.AddPage(".html", Page("An\xF4nimo"));
  site.AddPage(
      "\xA0"
      "ana\xA0/t8.html",
      Page("\xA0Z\xE9\xA0"));
  site.AddPage("ana/t9.html", "<p>Compositor: Ana Reis</p\n<div>fim</div>\n");
  site.AddPage("ana/t10.html", "<p>Compositor: Ana</p <b>Reis</b></p>\n");
  site.AddPage("ana/t11.html", "<p>Compositor: " + nulComposer + "</p>\n");
  site.AddPage("ana/t12.html", std::string(10 << 20, 'y') + Page("Dez Mega"));
  site.AddPage("ana/t14.html", Page("Linha\r\nDois"));
  ASSERT_TRUE(site.Start());

  test::ConsoleFolder folder;
  folder.Settings(db.Path());
  test::ConsoleOutcome run = folder.Run(site.BaseUrl());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, kCompleted);

  auto stored = test::ReadStoredSongs(db.Path());
  ASSERT_EQ(stored.size(), 14u);
  EXPECT_EQ(stored[1].Interprete, injected) << "the row holds what the test meant";
  EXPECT_EQ(stored[2].Interprete, padded);
  EXPECT_EQ(stored[3].Interprete, controls);
  EXPECT_EQ(stored[6].Nome, Accents45());
  EXPECT_EQ(stored[1].Compositor, std::nullopt) << "an address with a line break is never sent";
  EXPECT_EQ(stored[2].Compositor, "Beto Comp");
  EXPECT_EQ(stored[3].Compositor, "Controle");
  EXPECT_EQ(stored[4].Compositor, sqlComposer);
  EXPECT_EQ(stored[5].Compositor, "50% \"Ana\"");
  EXPECT_EQ(stored[6].Compositor, std::string(45, '\xC1')) << "cut to the column's 45";
  EXPECT_EQ(stored[7].Compositor, "An\xF4nimo") << "NULL performer and title: B + /.html";
  EXPECT_EQ(stored[8].Compositor, "\xA0Z\xE9\xA0") << "a no-break space is not trimmed";
  EXPECT_EQ(stored[9].Compositor, "Antigo") << "\"</p\" without \">\" ends nothing";
  EXPECT_EQ(stored[10].Compositor, "Ana</p <b>Reis</b>");
  EXPECT_EQ(stored[11].Compositor, nulComposer) << "all eight bytes, not the part before the NUL";
  EXPECT_EQ(stored[12].Compositor, "Dez Mega");
  EXPECT_EQ(stored[13].Compositor, "Antigo");
  EXPECT_EQ(stored[14].Compositor, "Linha\r\nDois");

  // No request was split: every head the site logged has the client's four lines, and no line
  // of any head came from a song's text.
  const std::string log = test::ReadFile(site.Root() + "/../requests.log");
  std::size_t heads = 0;
  for (std::size_t at = 0; (at = log.find("\r\n\r\n", at)) != std::string::npos; at += 4) ++heads;
  std::vector<std::string> lines = site.RequestLines();
  EXPECT_EQ(heads, lines.size());
  EXPECT_EQ(log.find("\r\nX-Injetado"), std::string::npos) << log.substr(0, 2000);
  EXPECT_EQ(log.find("\nx-injetado"), std::string::npos);
  for (const std::string& line : lines) EXPECT_EQ(line.find("injetado: "), std::string::npos);
  auto count = [&](const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
  };
  EXPECT_EQ(count("GET /ana/t9.html HTTP/1.1"), 1) << "a page without a composer ends the tries";
  EXPECT_EQ(count("GET /ana/t9-cifrada.html HTTP/1.1"), 0);
  EXPECT_EQ(count("GET //.html HTTP/1.1"), 1);
  // "#" starts a fragment, which is not sent: all three addresses of "Nº #1" ask for the same
  // truncated target, and none of them has a page.
  EXPECT_EQ(count("GET /ana/no- HTTP/1.1"), 3);
  for (const std::string& line : lines) EXPECT_EQ(line.find('#'), std::string::npos) << line;
}

}  // namespace
