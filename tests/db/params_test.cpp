// The parameter collection of a query: the scan of the SQL text for :Name places, the search by
// name, and the values a parameter takes and hands on.
#include "db/Params.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/DatabaseError.h"
#include "tests/support/Failures.h"

namespace {

using Names = std::vector<std::string>;
using test::MessageOf;

Names NamesOf(const TParams& params) {
  Names names;
  for (int i = 0; i < params.Count(); ++i) names.push_back(params[i]->Name);
  return names;
}

TEST(ParseSQL, ReplacesEachNameByAPlaceholderAndCreatesOneParameterPerPlace) {
  const struct {
    const char* sql;
    const char* text;
    Names names;
  } cases[] = {
      {"UPDATE Tb_Musicas SET Mus_Compositor = :Compositor WHERE Mus_Codigo = :Codigo\r\n",
       "UPDATE Tb_Musicas SET Mus_Compositor = ? WHERE Mus_Codigo = ?\r\n",
       {"Compositor", "Codigo"}},
      // Names end at every delimiter outside quotes; other punctuation belongs to the name.
      {"f(:a) :b,:c;:d :e\r\n:f\n:g", "f(?) ?,?;? ?\r\n?\n?", {"a", "b", "c", "d", "e", "f", "g"}},
      {"x = :a+1 and y=:b.c", "x = ? and y=?", {"a+1", "b.c"}},
      // A double colon is one literal colon.
      {"SELECT a::b, :p FROM t", "SELECT a:b, ? FROM t", {"p"}},
      {":::x", ":?", {"x"}},
      // Colons inside literals are no parameters; a literal left open hides the rest.
      {"SELECT ':a', \":b\", `:c`, '::' FROM t WHERE x = :d",
       "SELECT ':a', \":b\", `:c`, '::' FROM t WHERE x = ?",
       {"d"}},
      {"WHERE a = 'x :y", "WHERE a = 'x :y", {}},
      // Quoted names lose their quotes and keep their delimiters.
      {"WHERE a = :\"Nome, Completo\" AND b = :'x y')",
       "WHERE a = ? AND b = ?)",
       {"Nome, Completo", "x y"}},
      // Duplicates and empty names are kept as written.
      {"a = :x OR b = :X OR c = :", "a = ? OR b = ? OR c = ?", {"x", "X", ""}},
  };
  // One collection for all: each scan replaces what the one before made.
  TParams params;
  for (const auto& c : cases) {
    EXPECT_EQ(params.ParseSQL(c.sql, true), c.text);
    EXPECT_EQ(NamesOf(params), c.names) << c.sql;
    for (int i = 0; i < params.Count(); ++i) {
      EXPECT_EQ(params[i]->DataType, ftUnknown);
      EXPECT_EQ(params[i]->ParamType, ptUnknown);
      EXPECT_TRUE(params[i]->IsNull());
      EXPECT_FALSE(params[i]->Bound());
      EXPECT_EQ(params[i]->Size, 0);
    }
  }
  EXPECT_EQ(params.LookupParam("x"), params[0]);  // the first of the duplicates
}

TEST(ParseSQL, WithoutCreatingTheCollectionStaysAsItIs) {
  TParams params;
  params.Add("Keep")->AssignInteger(7);
  EXPECT_EQ(params.ParseSQL("x = :a", false), "x = ?");
  ASSERT_EQ(params.Count(), 1);
  EXPECT_EQ(params[0]->AsInteger(), 7);
}

TEST(TParams, LookupIgnoresLetterCaseAccentedLettersIncluded) {
  const std::string owner = "Q_Atualizar";
  TParams params(&owner);
  params.Add("Compositor");
  params.Add(
      "C\xD3"
      "DIGO");  // "CÓDIGO" in Windows-1252
  EXPECT_EQ(params.LookupParam("compositor"), params[0]);
  EXPECT_EQ(params.LookupParam("c\xF3"
                               "digo"),
            params[1]);
  EXPECT_EQ(params.LookupParam("codigo"), nullptr);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { params.GetParam("Titulo"); }),
            "Q_Atualizar: Parameter 'Titulo' not found");
  TParams unnamed;
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { unnamed.GetParam("Titulo"); }),
            "Parameter 'Titulo' not found");
}

TEST(TParam, AssignmentsSetTypeValueAndState) {
  TParam param("Compositor");
  param.AssignString("");
  EXPECT_FALSE(param.IsNull());
  EXPECT_TRUE(param.Bound());
  EXPECT_EQ(param.DataType, ftString);
  EXPECT_EQ(param.AsString(), "");

  param.AssignString("12");
  EXPECT_EQ(param.AsInteger(), 12);
  param.AssignInteger(-5);
  EXPECT_EQ(param.DataType, ftInteger);
  EXPECT_EQ(param.AsString(), "-5");
  EXPECT_EQ(param.AsInteger(), -5);

  param.DataType = ftFixedChar;
  param.AssignString("abc");
  EXPECT_EQ(param.DataType, ftFixedChar);

  param.Clear();
  EXPECT_TRUE(param.IsNull());
  EXPECT_FALSE(param.Bound());
  EXPECT_EQ(param.AsString(), "");
  EXPECT_EQ(param.AsInteger(), 0);

  param.AssignValue(ftString, TNullValue{});
  EXPECT_TRUE(param.IsNull());
  EXPECT_TRUE(param.Bound());
}

TEST(TParam, TextAndIntegerViews) {
  TParam flag("F");
  flag.AssignValue(ftBoolean, int32_t{1});
  EXPECT_EQ(flag.AsString(), "True");
  flag.AssignValue(ftBoolean, int32_t{0});
  EXPECT_EQ(flag.AsString(), "False");

  TParam number("N");
  number.AssignFloat(2.5);
  EXPECT_EQ(number.AsString(), "2.5");
  EXPECT_EQ(number.AsInteger(), 2);  // half to even
  number.AssignValue(ftBCD, TCurrencyValue{123450});
  EXPECT_EQ(number.AsString(), "12.345");
  EXPECT_EQ(number.AsCurrencyScaled(), 123450);
  number.AssignLargeint(int64_t{1} << 40);
  EXPECT_EQ(number.AsLargeint(), int64_t{1} << 40);

  TParam text("T");
  text.AssignString("doze");
  EXPECT_EQ(MessageOf<EConvertError>([&] { text.AsInteger(); }),
            "'doze' is not a valid integer value");
}

TEST(TParams, ValuesPassToParametersOfTheSameNameInANewCollection) {
  TParams old;
  old.Add("Compositor")->AssignString("Ana");
  old.Add("Codigo")->AssignInteger(4);
  old[1]->Size = 4;
  old[1]->ParamType = ptInput;

  TParams fresh;
  fresh.ParseSQL("x = :CODIGO AND y = :Outro", true);
  fresh.AssignValues(old);
  EXPECT_EQ(fresh[0]->AsInteger(), 4);
  EXPECT_EQ(fresh[0]->DataType, ftInteger);
  EXPECT_EQ(fresh[0]->Size, 4);
  EXPECT_EQ(fresh[0]->ParamType, ptInput);
  EXPECT_TRUE(fresh[0]->Bound());
  EXPECT_TRUE(fresh[1]->IsNull());

  old.Assign(fresh);
  EXPECT_EQ(NamesOf(old), (Names{"CODIGO", "Outro"}));
  EXPECT_EQ(old[0]->AsInteger(), 4);
  EXPECT_NE(old[0], fresh[0]);
}

}  // namespace
