// Parameter rewriting of statements and identifier normalisation: no server involved.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/IBErrors.h"
#include "db/IBSQL.h"

namespace {

struct Rewritten {
  std::string Text;
  std::vector<std::string> Names;
};

Rewritten Rewrite(const std::string& text, bool generate = false) {
  Rewritten r;
  r.Text = TIBSQL::PreprocessSQL(text, generate, r.Names);
  return r;
}

// Runs `text` through the rewriting and returns the client error it raises.
EIBClientError RewriteError(const std::string& text, bool generate = false) {
  try {
    Rewrite(text, generate);
  } catch (const EIBClientError& e) {
    return e;
  }
  ADD_FAILURE() << "no error for " << text;
  return EIBClientError(0, "");
}

using Names = std::vector<std::string>;

TEST(ParamRewriting, UpdateOfTheUpdateRunBecomesTwoPlaceholders) {
  Rewritten r =
      Rewrite("UPDATE Tb_Musicas SET Mus_Compositor = :Compositor WHERE Mus_Codigo = :Codigo\r\n");
  EXPECT_EQ(r.Text, "UPDATE Tb_Musicas SET Mus_Compositor = ? WHERE Mus_Codigo = ?\r\n");
  EXPECT_EQ(r.Names, (Names{"Compositor", "Codigo"}));
}

TEST(ParamRewriting, NameEndsAtTheFirstCharacterThatCannotBelongToIt) {
  Rewritten r = Rewrite("INSERT INTO T VALUES (:p_1$x,:B2);\r\n");
  EXPECT_EQ(r.Text, "INSERT INTO T VALUES (?,?);\r\n");
  EXPECT_EQ(r.Names, (Names{"p_1$x", "B2"}));
}

TEST(ParamRewriting, StringLiteralsAndQuotedIdentifiersHideColons) {
  Rewritten r = Rewrite("SELECT ':x', \"A:B\" FROM T WHERE C = :c\r\n");
  EXPECT_EQ(r.Text, "SELECT ':x', \"A:B\" FROM T WHERE C = ?\r\n");
  EXPECT_EQ(r.Names, (Names{"c"}));
}

TEST(ParamRewriting, DoubledQuoteDoesNotEndALiteralAndStaysInTheText) {
  Rewritten r = Rewrite("SELECT 'It''s :x' FROM T WHERE B = :b\r\n");
  EXPECT_EQ(r.Text, "SELECT 'It''s :x' FROM T WHERE B = ?\r\n");
  EXPECT_EQ(r.Names, (Names{"b"}));
  Rewritten q = Rewrite("SELECT \"a\"\":b\" FROM T\r\n");
  EXPECT_EQ(q.Text, "SELECT \"a\"\":b\" FROM T\r\n");
  EXPECT_TRUE(q.Names.empty());
}

TEST(ParamRewriting, QuotedParameterNameKeepsItsInnerText) {
  Rewritten r = Rewrite("SELECT * FROM T WHERE X = :\"my name:1\" AND Y = 1\r\n");
  EXPECT_EQ(r.Text, "SELECT * FROM T WHERE X = ? AND Y = 1\r\n");
  EXPECT_EQ(r.Names, (Names{"my name:1"}));
}

TEST(ParamRewriting, CommentsAreCopiedAndHideColons) {
  Rewritten r = Rewrite("/* :x ' \" */ SELECT 1 FROM T /**/ WHERE A = :a /* :y */\r\n");
  EXPECT_EQ(r.Text, "/* :x ' \" */ SELECT 1 FROM T /**/ WHERE A = ? /* :y */\r\n");
  EXPECT_EQ(r.Names, (Names{"a"}));
}

TEST(ParamRewriting, SameNameTwiceGivesTwoEntries) {
  Rewritten r = Rewrite("SELECT * FROM T WHERE A = :a1 OR B = :a1\r\n");
  EXPECT_EQ(r.Text, "SELECT * FROM T WHERE A = ? OR B = ?\r\n");
  EXPECT_EQ(r.Names, (Names{"a1", "a1"}));
}

TEST(ParamRewriting, TextWithoutParametersAndEightBitBytesPassesUnchanged) {
  std::string text = "SELECT 'Can\xE7\xE3o do Mar' FROM T WHERE N = 'Caf\xE9'\r\n";
  Rewritten r = Rewrite(text);
  EXPECT_EQ(r.Text, text);
  EXPECT_TRUE(r.Names.empty());
}

TEST(ParamRewriting, UnterminatedCommentOrStringRaisesParseError55) {
  EIBClientError comment = RewriteError("SELECT 1 FROM T /* open\r\n");
  EXPECT_EQ(comment.Message, "SQL Parse Error:\r\n\r\nEOF in comment detected");
  EXPECT_EQ(comment.SqlCode, 55);
  EXPECT_EQ(comment.ServerErrorCode, 0);
  EIBClientError literal = RewriteError("SELECT 'open FROM T\r\n");
  EXPECT_EQ(literal.Message, "SQL Parse Error:\r\n\r\nEOF in string detected");
  EXPECT_EQ(literal.SqlCode, 55);
  EIBClientError name = RewriteError("SELECT 1 FROM T WHERE A = :\"open\r\n");
  EXPECT_EQ(name.Message, "SQL Parse Error:\r\n\r\nEOF in string detected");
}

TEST(ParamRewriting, PlaceholderWithoutNameRaisesUnlessNamesAreGenerated) {
  for (const char* text : {"SELECT * FROM T WHERE A = ?\r\n", "SELECT * FROM T WHERE A = :\r\n",
                           "SELECT * FROM T WHERE A = : b\r\n", "SELECT * FROM T WHERE A = ?"}) {
    EIBClientError e = RewriteError(text);
    EXPECT_EQ(e.Message, "SQL Parse Error:\r\n\r\nParameter name expected") << text;
    EXPECT_EQ(e.SqlCode, 55);
  }
  Rewritten r = Rewrite("INSERT INTO T VALUES (?, ?,:c)\r\n", true);
  EXPECT_EQ(r.Text, "INSERT INTO T VALUES (?, ?,?)\r\n");
  EXPECT_EQ(r.Names, (Names{"IBParam0", "IBParam1", "c"}));
}

TEST(Identifiers, NormalizeByDialect) {
  EXPECT_EQ(NormalizeIdentifier(1, "  abc "), "ABC");
  EXPECT_EQ(NormalizeIdentifier(1, "\"abc\""), "\"ABC\"");
  EXPECT_EQ(NormalizeIdentifier(3, "abc"), "ABC");
  EXPECT_EQ(NormalizeIdentifier(3, " \"a\"\"b c\" "), "a\"b c");
  EXPECT_EQ(NormalizeIdentifier(3, "IBParam0"), "IBPARAM0");
  EXPECT_EQ(NormalizeIdentifier(3, ""), "");
}

TEST(Identifiers, QuoteByDialect) {
  EXPECT_EQ(QuoteName(1, " Tb_Musicas "), "TB_MUSICAS");
  EXPECT_EQ(QuoteName(3, "Tb_Musicas"), "\"Tb_Musicas\"");
  EXPECT_EQ(QuoteName(3, "a\"b"), "\"a\"\"b\"");
}

}  // namespace
