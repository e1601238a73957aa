// Descriptor areas and typed entry values, on areas described by hand (no server): growth,
// naming, buffers, null handling, conversions and the errors of the value paths.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "db/IBErrors.h"
#include "db/IBSQL.h"
#include "db/IBXSQLDA.h"
#include "runtime/DateTime.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/Failures.h"

namespace {

using test::ErrorOf;

// Describes entry `i` of `area` as the server would: type (with nullable bit), length, scale.
void Describe(TIBXSQLDA& area, int i, int type, int len, int scale = 0,
              const std::string& alias = {}, const std::string& relation = {}) {
  TSQLVAR& d = area[i].Data();
  d.SetSqlType(type);
  d.SetSqlLen(len);
  d.SetSqlScale(scale);
  d.SetAliasName(alias);
  d.SetRelName(relation);
}

struct Entry {
  const char* name;  // a parameter's name, or null
  int type;
  int len;
  int scale = 0;
};

// Gives `area` one entry per element, named and described, and applies the description.
void Describe(TIBXSQLDA& area, std::initializer_list<Entry> entries) {
  area.SetCount(static_cast<int>(entries.size()));
  int i = 0;
  for (const Entry& e : entries) {
    if (e.name) area.SetParamName(e.name, i);
    Describe(area, i++, e.type, e.len, e.scale);
  }
  area.ApplyDescription();
}

class XSQLDATest : public ::testing::Test {
 protected:
  TIBSQL statement;  // no database: dialect 3
  TIBXSQLDA& area = statement.SQLParams();
};

TEST_F(XSQLDATest, AreaGrowsButNeverShrinksAndEntriesFollowTheBuffer) {
  EXPECT_EQ(area.AsXSQLDA(), nullptr);
  Describe(area, {{nullptr, SQL_LONG + 1, 4}});
  area[0].SetLongValue(4711);
  char* data = area[0].Data().SqlData();

  area.SetCount(5);
  EXPECT_EQ(area.Size(), 5);
  XSQLDA* da = area.AsXSQLDA();
  ASSERT_NE(da, nullptr);
  EXPECT_EQ(da->version, SQLDA_VERSION1);
  EXPECT_EQ(da->sqln, 5);
  EXPECT_EQ(da->sqld, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(area[i].Data().XSqlVar(), &da->sqlvar[i]) << i;
  // The value written before the growth is still there, in the same buffer.
  EXPECT_EQ(area[0].Data().SqlData(), data);
  EXPECT_EQ(area[0].LongValue(), 4711);

  area.SetCount(2);
  EXPECT_EQ(area.Size(), 5);
  EXPECT_EQ(area.AsXSQLDA(), da);
  EXPECT_EQ(da->sqln, 2);
  EXPECT_EQ(da->sqld, 2);
  area.SetCount(0);
  EXPECT_EQ(area.Count(), 0);
  EXPECT_EQ(da->sqld, 2);  // the header stays as it was
}

TEST_F(XSQLDATest, IndexOutOfRangeAndUnknownNameRaise) {
  area.SetCount(2);
  area.SetParamName("Codigo", 0);
  area.SetParamName("Compositor", 1);
  EIBClientError range = ErrorOf<EIBClientError>([&] { area[2]; });
  EXPECT_EQ(range.SqlCode, 26);
  EXPECT_EQ(range.Message, "XSQLDA index out of range");
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { area[-1]; }).SqlCode, 26);
  EIBClientError name = ErrorOf<EIBClientError>([&] { area.ByName("Nome"); });
  EXPECT_EQ(name.SqlCode, 46);
  EXPECT_EQ(name.Message, "Field \"Nome\" not found");
  EXPECT_EQ(area.LookupByName("nome"), nullptr);
  // Unquoted names are looked up without regard to case.
  EXPECT_EQ(area.LookupByName("codigo"), &area[0]);
  EXPECT_EQ(&area.ByName("COMPOSITOR"), &area[1]);
  EXPECT_EQ(area[1].Name(), "Compositor");
}

TEST_F(XSQLDATest, ResultColumnNamesAreMadeUnique) {
  TIBXSQLDA& result = statement.Current();
  result.SetCount(6);
  const std::string long31(31, 'L');
  Describe(result, 0, SQL_LONG, 4, 0, "", "TB_MUSICAS");
  Describe(result, 1, SQL_LONG, 4, 0, "");
  Describe(result, 2, SQL_LONG, 4, 0, "A", "TB_MUSICAS");
  Describe(result, 3, SQL_LONG, 4, 0, "A");
  Describe(result, 4, SQL_LONG, 4, 0, long31);
  Describe(result, 5, SQL_LONG, 4, 0, long31);
  result.ApplyDescription();
  EXPECT_EQ(result[0].Name(), "F_1");
  EXPECT_EQ(result[1].Name(), "F_2");
  EXPECT_EQ(result[2].Name(), "A");
  EXPECT_EQ(result[3].Name(), "A1");
  EXPECT_EQ(result[4].Name(), long31);
  EXPECT_EQ(result[5].Name(), std::string(30, 'L') + "1");
  EXPECT_EQ(result[5].Data().AliasName(), std::string(30, 'L') + "1");
  EXPECT_EQ(result.UniqueRelationName(), "TB_MUSICAS");

  Describe(result, 1, SQL_LONG, 4, 0, "", "RDB$DATABASE");
  result.SetCount(6);
  result.ApplyDescription();
  EXPECT_EQ(result.UniqueRelationName(), "");
}

TEST_F(XSQLDATest, DescriptionSizesBuffersAndIndicators) {
  Describe(area, {{nullptr, SQL_VARYING + 1, 45},
                  {nullptr, SQL_TEXT, 10},
                  {nullptr, SQL_LONG + 1, 4},
                  {nullptr, SQL_BLOB + 1, 8}});
  EXPECT_EQ(area[0].MaxLen(), 45);
  EXPECT_GE(area[0].Data().DataCapacity(), 47u);
  EXPECT_NE(area[0].Data().SqlInd(), nullptr);
  EXPECT_EQ(area[1].MaxLen(), 10);
  EXPECT_EQ(area[1].Data().SqlInd(), nullptr);
  EXPECT_FALSE(area[1].IsNullable());
  EXPECT_EQ(area[2].MaxLen(), 0);
  EXPECT_TRUE(area[2].IsNullable());

  Describe(area, 2, 32766, 0);  // a type this client does not handle
  EIBClientError e = ErrorOf<EIBClientError>([&] { area.ApplyDescription(); });
  EXPECT_EQ(e.SqlCode, 35);
  EXPECT_EQ(e.Message, "Unknown SQL Data type (32766)");
}

TEST_F(XSQLDATest, TextLongerThanTheDescribedMaximumRaises119) {
  Describe(area, {{"Compositor", SQL_VARYING + 1, 45}});
  area[0].SetIsNull(true);
  EIBClientError e = ErrorOf<EIBClientError>([&] { area[0].SetTextValue(std::string(46, 'x')); });
  EXPECT_EQ(e.SqlCode, 119);
  EXPECT_EQ(e.Message,
            "Trying to store a string of length 46 into a field that can only contain 45");
  // The setter cleared the null state and set the type before it checked the length.
  EXPECT_FALSE(area[0].IsNull());
  EXPECT_TRUE(area[0].IsNullable());
  EXPECT_EQ(area[0].SqlType(), SQL_TEXT);

  area[0].SetTextValue(std::string(45, 'y'));
  EXPECT_EQ(area[0].SqlType(), SQL_TEXT);
  EXPECT_TRUE(area[0].IsNullable());
  EXPECT_EQ(area[0].Data().SqlLen(), 45);
  EXPECT_EQ(area[0].TextValue(), std::string(45, 'y'));
  EXPECT_TRUE(area[0].Modified());
}

TEST_F(XSQLDATest, SameNamedEntriesReceiveEveryValueAndNull) {
  Describe(area, {{"a1", SQL_LONG + 1, 4}, {"b", SQL_LONG + 1, 4}, {"A1", SQL_LONG, 4}});
  area[1].SetLongValue(7);
  area[0].SetLongValue(42);
  EXPECT_EQ(area[2].LongValue(), 42);
  EXPECT_EQ(area[1].LongValue(), 7);
  EXPECT_TRUE(area[2].Modified());

  // Null on a name whose second entry is not nullable makes that entry nullable first.
  area[0].SetIsNull(true);
  EXPECT_TRUE(area[0].IsNull());
  EXPECT_TRUE(area[2].IsNullable());
  EXPECT_TRUE(area[2].IsNull());
  EXPECT_EQ(*area[2].Data().SqlInd(), -1);
  EXPECT_FALSE(area[1].IsNull());
  EXPECT_EQ(area[0].TextValue(), "");
  EXPECT_EQ(area[0].LongValue(), 0);

  area[2].SetTextValue("abc");
  EXPECT_FALSE(area[0].IsNull());
  EXPECT_EQ(area[0].TextValue(), "abc");
  EXPECT_EQ(area[0].SqlType(), SQL_TEXT);
}

TEST_F(XSQLDATest, WritingNewValuesReusesTheValueBuffer) {
  Describe(area, {{"Compositor", SQL_VARYING + 1, 45}, {"Codigo", SQL_LONG, 4}});
  area[0].SetTextValue(std::string(45, 'z'));
  area[1].SetLongValue(1);
  char* text = area[0].Data().SqlData();
  char* code = area[1].Data().SqlData();
  const long start = test::AllocationCount();
  std::vector<std::string> texts;
  for (int i = 0; i < 200; ++i) texts.push_back(std::string(std::size_t(i % 45), 'a'));
  const long before = test::AllocationCount();
  ASSERT_GT(before, start);  // the counter sees allocations
  for (int i = 0; i < 200; ++i) {
    area[0].SetTextValue(texts[std::size_t(i)]);
    area[1].SetLongValue(i);
    area[1].SetIsNull(i % 2 == 0);
  }
  EXPECT_EQ(test::AllocationCount() - before, 0);
  EXPECT_EQ(area[0].Data().SqlData(), text);
  EXPECT_EQ(area[1].Data().SqlData(), code);
  EXPECT_EQ(area[0].TextValue(), std::string(199 % 45, 'a'));
  EXPECT_EQ(area[1].LongValue(), 199);
}

TEST_F(XSQLDATest, NumericSettersWriteTypeLengthAndScale) {
  Describe(area, {{"v", SQL_VARYING + 1, 20}});
  TIBXSQLVAR& v = area[0];

  v.SetShortValue(-12);
  EXPECT_EQ(v.Data().SqlType(), SQL_SHORT + 1);
  EXPECT_EQ(v.Data().SqlLen(), 2);
  EXPECT_EQ(v.TextValue(), "-12");
  v.SetInt64Value(int64_t(1) << 40);
  EXPECT_EQ(v.SqlType(), SQL_INT64);
  EXPECT_EQ(v.TextValue(), "1099511627776");
  v.SetCurrencyValue(-15000);  // -1.5
  EXPECT_EQ(v.SqlType(), SQL_INT64);
  EXPECT_EQ(v.Data().SqlScale(), -4);
  EXPECT_EQ(v.TextValue(), "-1.5");
  EXPECT_EQ(v.CurrencyValue(), -15000);
  EXPECT_DOUBLE_EQ(v.DoubleValue(), -1.5);
  EXPECT_EQ(v.LongValue(), -2);  // rounded half away from zero
  v.SetDoubleValue(0.1);
  EXPECT_EQ(v.Data().SqlType(), SQL_DOUBLE + 1);
  EXPECT_EQ(v.Data().SqlScale(), 0);
  EXPECT_EQ(v.TextValue(), "0.1");
  v.SetDoubleValue(1.5e-7);
  EXPECT_EQ(v.TextValue(), "1.5E-7");
  v.SetDoubleValue(1e20);
  EXPECT_EQ(v.TextValue(), "1E20");
}

TEST_F(XSQLDATest, ScaledIntegersReadAsCurrencyOrFloatText) {
  Describe(area, {{nullptr, SQL_LONG, 4, -2}, {nullptr, SQL_SHORT, 2, -5}});
  int32_t cents = 12345;
  std::memcpy(area[0].Data().SqlData(), &cents, sizeof cents);
  EXPECT_EQ(area[0].TextValue(), "123.45");
  EXPECT_EQ(area[0].CurrencyValue(), 1234500);
  int16_t small = 12345;
  std::memcpy(area[1].Data().SqlData(), &small, sizeof small);
  EXPECT_EQ(area[1].TextValue(), "0.12345");
}

TEST_F(XSQLDATest, DateAndTimeValuesKeepTheirMilliseconds) {
  Describe(area, {{"d", SQL_TIMESTAMP + 1, 8}});
  TIBXSQLVAR& v = area[0];
  TDateTime stamp = rt::EncodeDate(2024, 3, 7) + rt::EncodeTime(14, 5, 9, 250);
  v.SetDateTimeValue(stamp);
  EXPECT_EQ(v.SqlType(), SQL_TIMESTAMP);
  EXPECT_NEAR(v.DateTimeValue(), stamp, 1e-9);
  EXPECT_EQ(v.TextValue(), "2024-03-07 14:05:09");
  EXPECT_DOUBLE_EQ(v.DateValue(), rt::EncodeDate(2024, 3, 7));

  v.SetDateValue(rt::EncodeDate(1999, 12, 31));
  EXPECT_EQ(v.SqlType(), SQL_TYPE_DATE);
  EXPECT_EQ(v.TextValue(), "1999-12-31");  // dialect 3: the date alone
  v.SetTimeValue(rt::EncodeTime(23, 59, 58, 7));
  EXPECT_EQ(v.SqlType(), SQL_TYPE_TIME);
  EXPECT_NEAR(v.TimeValue(), rt::EncodeTime(23, 59, 58, 7), 1e-9);
  EXPECT_EQ(v.TextValue(), "23:59:58");
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { v.DateValue(); }).SqlCode, 38);

  // Text written to a date-time entry is read as a date-time; empty text means null.
  Describe(area, 0, SQL_TIMESTAMP + 1, 8);
  area.ApplyDescription();
  v.SetTextValue("2001-02-03 04:05:06");
  EXPECT_EQ(v.SqlType(), SQL_TIMESTAMP);
  EXPECT_EQ(v.TextValue(), "2001-02-03 04:05:06");
  v.SetTextValue("");
  EXPECT_TRUE(v.IsNull());
}

TEST_F(XSQLDATest, QuadOnlyForBlobArrayAndQuadEntries) {
  Describe(area, {{"l", SQL_LONG, 4}, {"b", SQL_BLOB + 1, 8}});
  EIBClientError e = ErrorOf<EIBClientError>([&] { area[0].SetQuadValue(ISC_QUAD{1, 2}); });
  EXPECT_EQ(e.SqlCode, 38);
  EXPECT_EQ(e.Message, "Invalid data conversion");
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { area[0].QuadValue(); }).SqlCode, 38);
  area[1].SetQuadValue(ISC_QUAD{5, 6});
  EXPECT_EQ(area[1].QuadValue().gds_quad_high, 5);
  EXPECT_EQ(area[1].QuadValue().gds_quad_low, 6u);
  // Arrays read as a fixed text.
  Describe(area, 1, SQL_ARRAY + 1, 8);
  area.ApplyDescription();
  EXPECT_EQ(area[1].TextValue(), "(Array)");
}

TEST_F(XSQLDATest, BooleanWritesOnlyItsOwnBuffer) {
  Describe(area, {{"f", SQL_BOOLEAN + 1, 1}, {"f", SQL_BOOLEAN + 1, 1}});
  area[0].SetBooleanValue(true);
  EXPECT_TRUE(area[0].BooleanValue());
  EXPECT_EQ(area[0].TextValue(), "True");
  EXPECT_FALSE(area[1].BooleanValue());
  EXPECT_EQ(area[1].TextValue(), "False");
}

TEST_F(XSQLDATest, KeyEntryTakesTheFirstBytesIntoItsOwnBuffer) {
  area.SetCount(1);
  area.SetParamName("k", 0);
  Describe(area, 0, SQL_TEXT, 8);
  area[0].Data().SetSqlName("DB_KEY");
  area.ApplyDescription();
  area[0].SetTextValue("ABCDEFGHIJ");
  EXPECT_EQ(area[0].SqlType(), SQL_TEXT);
  EXPECT_EQ(area[0].Data().SqlLen(), 8);
  EXPECT_EQ(area[0].TextValue(), "ABCDEFGH");
  // A shorter text does not read past its end: the rest is zero.
  area[0].SetTextValue("XY");
  EXPECT_EQ(area[0].TextValue(), std::string("XY\0\0\0\0\0\0", 8));
}

TEST(SQLVarLayouts, BasicLayoutDerivesPrecisionAndCutsNamesAt32) {
  XSQLVAR raw{};
  TSQLVAR_V1 v;
  v.SetXSqlVar(&raw);
  v.SetSqlType(SQL_INT64 + 1);
  EXPECT_EQ(v.SqlPrecision(), 18);
  v.SetSqlPrecision(5);  // no field for it
  EXPECT_EQ(v.SqlPrecision(), 18);
  v.SetSqlType(SQL_SHORT);
  EXPECT_EQ(v.SqlPrecision(), 4);
  v.SetSqlType(SQL_LONG);
  EXPECT_EQ(v.SqlPrecision(), 9);
  v.SetSqlType(SQL_DOUBLE);
  EXPECT_EQ(v.SqlPrecision(), 0);
  v.SetRelName(std::string(40, 'R'));
  EXPECT_EQ(raw.relname_length, 32);
  EXPECT_EQ(v.RelName(), std::string(32, 'R'));
  v.SetDataSize(10);
  EXPECT_EQ(raw.sqldata, v.SqlData());
  EXPECT_NE(raw.sqldata, nullptr);
  v.SetDataSize(0);
  EXPECT_EQ(raw.sqldata, nullptr);
  v.SetIndSize(2);
  EXPECT_NE(raw.sqlind, nullptr);
  v.SetIndSize(0);
  EXPECT_EQ(raw.sqlind, nullptr);
  EXPECT_EQ(SQLVarSize(63000), sizeof(XSQLVAR));
}

TEST(SQLVarLayouts, ExtendedLayoutKeepsPrecisionAndLongNames) {
  XSQLVAR_V2 raw{};
  TSQLVAR_V2 v;
  v.SetXSqlVar(&raw);
  v.SetSqlType(SQL_LONG);
  v.SetSqlPrecision(7);
  EXPECT_EQ(raw.sqlprecision, 7);
  EXPECT_EQ(v.SqlPrecision(), 7);
  v.SetSqlScale(-2);
  v.SetSqlLen(4);
  EXPECT_EQ(raw.sqlscale, -2);
  EXPECT_EQ(raw.sqllen, 4);
  v.SetAliasName(std::string(70, 'A'));
  EXPECT_EQ(raw.aliasname_length, 68);
  EXPECT_EQ(v.AliasName(), std::string(68, 'A'));
  v.SetSqlName("MUS_NOME");
  EXPECT_EQ(v.SqlName(), "MUS_NOME");
  EXPECT_EQ(SQLVarSize(70000), sizeof(XSQLVAR_V2));
}

}  // namespace
