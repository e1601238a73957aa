// lirenta-console as built over songs whose performers and titles hold what real databases hold
// now and then (line breaks, control characters, quotes, semicolons, "%", "#", 45 accented
// letters, NULLs, a no-break space) and against pages whose composer is odd (an end marker
// without its ">", a NUL byte, a line break, 10 MB of text before the marker). No request is
// split, nothing crashes, and every row ends with the right composer or keeps its value.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/SongRows.h"
#include "tests/support/StoredSongs.h"

namespace {

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

TEST(BadRows, OddPerformersTitlesAndPagesGiveTheRightComposerOrNone) {
  const std::string injected = "Ana\r\nX-Injetado: sim";
  const std::string controls = "Ca\x01r\x1Blos\tDois\x7F";
  const std::string sqlComposer = "O'Neil; DROP TABLE Tb_Musicas; --";
  const std::string nulComposer("Ana\0Reis", 8);
  const std::string padded = "\r\n\tBeto \r\n";
  std::string accents45;  // nine accented letters, five times over
  for (int i = 0; i < 5; ++i) accents45 += "\xE7\xE3\xE9\xED\xF5\xFA\xC7\xC3\xC9";
  std::vector<test::Song> songs = {
      {1, "t1", "-", {}},
      {2, "t2", "-", {}},
      {3, "t3", "-", {}},
      {4, "Sem; fim'", "D'\xC1vila; \"Z\xE9\"", {}},
      {5, "%0D%0AX-Injetado: %00", "100% Samba", {}},
      {6, accents45, std::string(45, '\xD1'), {}},
      {8,
       "t8",
       "\xA0"
       "Ana\xA0",
       {}},
      {9, "t9", "Ana", "Antigo"},
      {10, "t10", "Ana", {}},
      {11, "t11", "Ana", {}},
      {12, "t12", "Ana", {}},
      {13, "N\xBA #1", "Ana", "Antigo"},
      {14, "t14", "Ana", {}},
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
  site.AddComposerPage("beto/t2.html", "Beto Comp");
  site.AddComposerPage("ca\x01r\x1Blos\tdois\x7F/t3.html", "Controle");
  site.AddComposerPage("d'avila;--ze/sem;-fim'.html", sqlComposer);
  site.AddComposerPage("100%-samba/%0d%0ax-injetado--%00.html", "50% \"Ana\"");
  site.AddPage(std::string(45, '\xD1') + "/caeioucaecaeioucaecaeioucaecaeioucaecaeioucae.html",
               "<p>Compositor:" + std::string(50, '\xC1') + "</p>");
  site.AddComposerPage(".html", "An\xF4nimo");
  site.AddComposerPage(
      "\xA0"
      "ana\xA0/t8.html",
      "\xA0Z\xE9\xA0");
  site.AddPage("ana/t9.html", "<p>Compositor: Ana Reis</p\n<div>fim</div>\n");
  site.AddPage("ana/t10.html", "<p>Compositor: Ana</p <b>Reis</b></p>\n");
  site.AddComposerPage("ana/t11.html", nulComposer);
  site.AddPage("ana/t12.html", std::string(10 << 20, 'y') + test::ComposerPage("Dez Mega"));
  site.AddComposerPage("ana/t14.html", "Linha\r\nDois");
  ASSERT_TRUE(site.Start());

  test::ProgramFolder folder;
  folder.Settings(db.Path());
  test::ProgramOutcome run = folder.Run(site.BaseUrl());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);

  // The rows hold what the test meant.
  auto stored = test::ReadStoredSongs(db.Path());
  EXPECT_EQ(stored[1].Interprete, injected);
  EXPECT_EQ(stored[2].Interprete, padded);
  EXPECT_EQ(stored[3].Interprete, controls);
  EXPECT_EQ(stored[6].Nome, accents45);
  EXPECT_EQ(test::StoredComposers(db.Path()),
            (test::Composers{
                {1, std::nullopt},  // an address with a line break is never sent
                {2, "Beto Comp"},
                {3, "Controle"},
                {4, sqlComposer},
                {5, "50% \"Ana\""},
                {6, std::string(45, '\xC1')},  // cut to the column's 45
                {7, "An\xF4nimo"},             // NULL performer and title: B + /.html
                {8, "Z\xE9"},                  // no-break spaces are white space, trimmed
                {9, "Antigo"},                 // "</p" without ">" ends nothing
                {10, "Ana Reis"},              // the tag "</p ...>" of a paragraph parts them
                {11, "Ana Reis"},              // the NUL is white space; what follows it counts
                {12, "Dez Mega"},
                {13, "Antigo"},
                {14, "Linha Dois"},
            }));

  // No request was split: every head the site logged has the client's four lines, and no line
  // of any head came from a song's text.
  const std::string log = site.RequestLog();
  std::size_t heads = 0;
  for (std::size_t at = 0; (at = log.find("\r\n\r\n", at)) != std::string::npos; at += 4) ++heads;
  std::vector<std::string> lines = site.RequestLines();
  EXPECT_EQ(heads, lines.size());
  EXPECT_EQ(log.find("\r\nX-Injetado"), std::string::npos) << log.substr(0, 2000);
  EXPECT_EQ(log.find("\nx-injetado"), std::string::npos);
  auto count = [&](const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
  };
  EXPECT_EQ(count("GET /ana/t9.html HTTP/1.1"), 1) << "a page without a composer ends the tries";
  EXPECT_EQ(count("GET /ana/t9-cifrada.html HTTP/1.1"), 0);
  EXPECT_EQ(count("GET //.html HTTP/1.1"), 1);
  // "#" starts a fragment, which is not sent: all three addresses of "Nº #1" ask for the same
  // truncated target, and none of them has a page.
  EXPECT_EQ(count("GET /ana/no- HTTP/1.1"), 3);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("injetado: "), std::string::npos) << line;
    EXPECT_EQ(line.find('#'), std::string::npos) << line;
  }
}

}  // namespace
