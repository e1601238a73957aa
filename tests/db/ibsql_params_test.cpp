// Parameter rewriting of statements and identifier normalisation: no server involved.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/IBErrors.h"
#include "db/IBSQL.h"
#include "tests/support/Failures.h"

namespace {

using Names = std::vector<std::string>;

TEST(ParamRewriting, PlacesBecomePlaceholdersAndNamesAreCollected) {
  const struct {
    std::string sql;
    std::string text;
    Names names;
    bool generate = false;
  } cases[] = {
      // The update run's statement.
      {"UPDATE Tb_Musicas SET Mus_Compositor = :Compositor WHERE Mus_Codigo = :Codigo\r\n",
       "UPDATE Tb_Musicas SET Mus_Compositor = ? WHERE Mus_Codigo = ?\r\n",
       {"Compositor", "Codigo"}},
      // A name ends at the first character that cannot belong to it.
      {"INSERT INTO T VALUES (:p_1$x,:B2);\r\n",
       "INSERT INTO T VALUES (?,?);\r\n",
       {"p_1$x", "B2"}},
      // String literals, quoted identifiers and comments hide colons; a doubled quote does not
      // end a literal and stays in the text.
      {"SELECT ':x', \"A:B\" FROM T WHERE C = :c\r\n",
       "SELECT ':x', \"A:B\" FROM T WHERE C = ?\r\n",
       {"c"}},
      {"SELECT 'It''s :x' FROM T WHERE B = :b\r\n",
       "SELECT 'It''s :x' FROM T WHERE B = ?\r\n",
       {"b"}},
      {"SELECT \"a\"\":b\" FROM T\r\n", "SELECT \"a\"\":b\" FROM T\r\n", {}},
      {"/* :x ' \" */ SELECT 1 FROM T /**/ WHERE A = :a /* :y */\r\n",
       "/* :x ' \" */ SELECT 1 FROM T /**/ WHERE A = ? /* :y */\r\n",
       {"a"}},
      // A quoted parameter name keeps its inner text.
      {"SELECT * FROM T WHERE X = :\"my name:1\" AND Y = 1\r\n",
       "SELECT * FROM T WHERE X = ? AND Y = 1\r\n",
       {"my name:1"}},
      // The same name twice gives two entries.
      {"SELECT * FROM T WHERE A = :a1 OR B = :a1\r\n",
       "SELECT * FROM T WHERE A = ? OR B = ?\r\n",
       {"a1", "a1"}},
      // Text without parameters passes unchanged, 8-bit bytes and all.
      {"SELECT 'Can\xE7\xE3o do Mar' FROM T WHERE N = 'Caf\xE9'\r\n",
       "SELECT 'Can\xE7\xE3o do Mar' FROM T WHERE N = 'Caf\xE9'\r\n",
       {}},
      // Nameless places get generated names when asked.
      {"INSERT INTO T VALUES (?, ?,:c)\r\n",
       "INSERT INTO T VALUES (?, ?,?)\r\n",
       {"IBParam0", "IBParam1", "c"},
       true},
  };
  for (const auto& c : cases) {
    Names names;
    EXPECT_EQ(TIBSQL::PreprocessSQL(c.sql, c.generate, names), c.text);
    EXPECT_EQ(names, c.names) << c.sql;
  }
}

TEST(ParamRewriting, UnterminatedTextsAndNamelessPlacesRaiseParseError55) {
  const struct {
    const char* sql;
    const char* message;
  } cases[] = {
      {"SELECT 1 FROM T /* open\r\n", "SQL Parse Error:\r\n\r\nEOF in comment detected"},
      {"SELECT 'open FROM T\r\n", "SQL Parse Error:\r\n\r\nEOF in string detected"},
      {"SELECT 1 FROM T WHERE A = :\"open\r\n", "SQL Parse Error:\r\n\r\nEOF in string detected"},
      {"SELECT * FROM T WHERE A = ?\r\n", "SQL Parse Error:\r\n\r\nParameter name expected"},
      {"SELECT * FROM T WHERE A = :\r\n", "SQL Parse Error:\r\n\r\nParameter name expected"},
      {"SELECT * FROM T WHERE A = : b\r\n", "SQL Parse Error:\r\n\r\nParameter name expected"},
      {"SELECT * FROM T WHERE A = ?", "SQL Parse Error:\r\n\r\nParameter name expected"},
  };
  for (const auto& c : cases) {
    Names names;
    const EIBClientError e =
        test::ErrorOf<EIBClientError>([&] { TIBSQL::PreprocessSQL(c.sql, false, names); });
    EXPECT_EQ(e.Message, c.message) << c.sql;
    EXPECT_EQ(e.SqlCode, 55);
    EXPECT_EQ(e.ServerErrorCode, 0);
  }
}

TEST(Identifiers, NormalizeAndQuoteByDialect) {
  EXPECT_EQ(NormalizeIdentifier(1, "  abc "), "ABC");
  EXPECT_EQ(NormalizeIdentifier(1, "\"abc\""), "\"ABC\"");
  EXPECT_EQ(NormalizeIdentifier(3, "abc"), "ABC");
  EXPECT_EQ(NormalizeIdentifier(3, " \"a\"\"b c\" "), "a\"b c");
  EXPECT_EQ(NormalizeIdentifier(3, "IBParam0"), "IBPARAM0");
  EXPECT_EQ(NormalizeIdentifier(3, ""), "");
  EXPECT_EQ(QuoteName(1, " Tb_Musicas "), "TB_MUSICAS");
  EXPECT_EQ(QuoteName(3, "Tb_Musicas"), "\"Tb_Musicas\"");
  EXPECT_EQ(QuoteName(3, "a\"b"), "\"a\"\"b\"");
}

}  // namespace
