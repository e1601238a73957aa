// Column definitions, field binding and the record cache of the query datasets, against the
// embedded engine: types and sizes of definitions, the errors of binding, reading text and
// integers out of the record, the column-information cache, and the growth of the cache.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "db/DataSource.h"
#include "db/IBErrors.h"
#include "db/IBFields.h"
#include "db/IBQuery.h"
#include "db/IBSchema.h"
#include "db/IBTransaction.h"
#include "tests/db/TraceRecorder.h"
#include "tests/support/Failures.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/WindowConnection.h"

namespace {

using test::ErrorOf;
using test::MessageOf;

const std::string k45(45, 'a');
const std::string k46(46, 'b');

// Rows of Tb_Numeros.
constexpr int kNumbers = 1500;

// Tables beside Tb_Musicas: every kind of column the definitions distinguish, and a table of
// the numbers 1 to kNumbers for the cache.
const std::string kExtraSql =
    "CREATE TABLE Tb_Tipos (ID INTEGER NOT NULL PRIMARY KEY, C_SMALL SMALLINT, "
    "C_CHAR CHAR(10), C_VAR60 VARCHAR(60), C_NUM NUMERIC(9,2), "
    "C_DEF INTEGER DEFAULT 5 NOT NULL, C_CALC COMPUTED BY (ID * 2), C_DOUBLE DOUBLE PRECISION);\n"
    "INSERT INTO Tb_Tipos (ID, C_SMALL, C_CHAR, C_VAR60, C_NUM, C_DEF, C_DOUBLE) "
    "VALUES (1, -7, 'abc', '" +
    k45 + "', 123.45, 6, 0.5);\nINSERT INTO Tb_Tipos (ID, C_VAR60) VALUES (2, '" + k46 + "');\n" +
    test::NumbersTableSql(kNumbers);

template <class T>
T& Declare(T& field, TDataSet& dataSet, const std::string& column) {
  field.FieldName = column;
  field.SetDataSet(&dataSet);
  return field;
}

// The values of `field` from the current row to the end.
std::vector<int> Walk(TIBQuery& query, TField& field) {
  std::vector<int> values;
  for (; !query.AtEnd(); query.MoveNext()) values.push_back(field.IntegerValue());
  return values;
}

std::vector<int> Numbers(int from, int to) {
  std::vector<int> values(std::size_t(to - from + 1));
  std::iota(values.begin(), values.end(), from);
  return values;
}

class IBDataSetTest : public test::ConnectedTest {
 protected:
  static void SetUpTestSuite() { SetUpDatabase(kExtraSql); }
};

TEST_F(IBDataSetTest, DefinitionsCarryTypesSizesAndAttributesFromTheColumns) {
  auto query =
      Query("SELECT ID, C_SMALL, C_CHAR, C_VAR60, C_NUM, C_DEF, C_CALC, C_DOUBLE FROM Tb_Tipos");
  query->Prepare();
  const TFieldDefs& defs = query->FieldDefs();
  ASSERT_EQ(defs.Count(), 8);
  struct Expected {
    const char* name;
    TFieldType type;
    int size;
    TFieldAttributes attributes;
    bool required;
  };
  const Expected expected[] = {
      {"ID", ftInteger, 0, faRequired, true},
      {"C_SMALL", ftSmallint, 0, 0, false},
      {"C_CHAR", ftString, 10, faFixed, false},
      {"C_VAR60", ftString, 60, 0, false},
      {"C_NUM", ftBCD, 2, 0, false},
      {"C_DEF", ftInteger, 0, 0, false},  // not null, but the column has a default
      {"C_CALC", ftInteger, 0, faReadonly, false},
      {"C_DOUBLE", ftFloat, 0, 0, false},
  };
  for (int i = 0; i < defs.Count(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(defs.Items(i).Name, expected[i].name);
    EXPECT_EQ(defs.Items(i).FieldNo, i + 1);
    EXPECT_EQ(defs.Items(i).DataType, expected[i].type);
    EXPECT_EQ(defs.Items(i).Size, expected[i].size);
    EXPECT_EQ(defs.Items(i).Attributes, expected[i].attributes);
    EXPECT_EQ(defs.Items(i).Required, expected[i].required);
  }
  EXPECT_TRUE(defs.Items(6).InternalCalcField);
  EXPECT_EQ(defs.Items(4).Precision, 9);
  EXPECT_EQ(defs.IndexOf("c_var60"), 3);
}

TEST_F(IBDataSetTest, AnExpressionColumnIsNeverRequiredAndAsksTheCacheNothing) {
  auto count = Query("SELECT COUNT(*) FROM Tb_Musicas");
  count->Open();
  ASSERT_EQ(count->FieldDefs().Count(), 1);
  EXPECT_FALSE(count->FieldDefs().Items(0).Required);
  EXPECT_EQ(database.Schema(), nullptr);
  ASSERT_EQ(count->Fields().Count(), 1);
  EXPECT_EQ(count->Fields()[0]->IntegerValue(), 3);
  EXPECT_EQ(count->Fields()[0]->ProviderFlags, 0u);
}

TEST_F(IBDataSetTest, TheColumnCacheLoadsEachTableOnce) {
  auto first = Query("SELECT ID, C_DEF FROM Tb_Tipos", "Q1");
  auto second = Query("SELECT C_CALC, ID FROM Tb_Tipos", "Q2");
  {
    test::TraceRecorder trace(database, TraceFlag(tfQPrepare));
    first->Open();
    second->Open();
    EXPECT_EQ(std::count_if(trace.entries.begin(), trace.entries.end(),
                            [](const TTraceEntry& entry) {
                              return entry.Text.find("RDB$RELATION_FIELDS") != std::string::npos ||
                                     entry.Text.find("RDB$RELATION_CONSTRAINTS") !=
                                         std::string::npos;
                            }),
              2);
  }
  ASSERT_NE(database.Schema(), nullptr);
  auto& schema = dynamic_cast<TSchema&>(*database.Schema());
  EXPECT_EQ(schema.RelationsLoaded(), 1);
  EXPECT_TRUE(second->FieldDefs().Items(0).InternalCalcField);

  auto songs = Query("SELECT Mus_Codigo FROM Tb_Musicas", "Q3");
  songs->Open();
  EXPECT_EQ(schema.RelationsLoaded(), 2);
  EXPECT_TRUE(schema.IsKeyColumn("TB_MUSICAS", "MUS_CODIGO"));
  EXPECT_FALSE(schema.IsKeyColumn("TB_MUSICAS", "mus_codigo"));  // answers need the exact name
  EXPECT_TRUE(schema.HasDefaultValue("tb_tipos", "C_DEF"));
  EXPECT_TRUE(schema.IsComputedColumn("TB_TIPOS", "C_CALC"));
  EXPECT_FALSE(schema.HasDefaultValue("TB_TIPOS", "ID"));
  EXPECT_EQ(schema.RelationsLoaded(), 2);
  // The internal transaction the cache started for loading has been committed again.
  EXPECT_FALSE(database.InternalTransaction()->Active());
}

TEST_F(IBDataSetTest, DefaultFieldsFollowTheDefinitions) {
  auto query = Query("SELECT ID, C_CHAR, C_NUM, C_CALC, C_DOUBLE FROM Tb_Tipos");
  query->Open();
  ASSERT_EQ(query->Fields().Count(), 5);
  EXPECT_TRUE(query->DefaultFields());
  const TFields& fields = query->Fields();
  EXPECT_NE(dynamic_cast<TIntegerField*>(fields[0]), nullptr);
  auto* text = dynamic_cast<TIBStringField*>(fields[1]);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Size(), 10);
  EXPECT_NE(dynamic_cast<TIBBCDField*>(fields[2]), nullptr);
  EXPECT_NE(dynamic_cast<TFloatField*>(fields[4]), nullptr);
  EXPECT_EQ(fields[0]->Origin, "TB_TIPOS.ID");
  EXPECT_EQ(fields[0]->ProviderFlags, unsigned(pfInUpdate | pfInWhere | pfInKey));
  EXPECT_EQ(fields[1]->ProviderFlags, unsigned(pfInUpdate | pfInWhere));
  EXPECT_EQ(fields[3]->ProviderFlags, 0u);
  EXPECT_TRUE(fields[0]->Required);

  EXPECT_EQ(fields[0]->IntegerValue(), 1);
  const std::vector<std::string> texts = {"abc", "123.45", "2", "0.5"};
  for (int i = 1; i < 5; ++i) EXPECT_EQ(fields[i]->StringValue(), texts[std::size_t(i - 1)]);
  query->Close();
  EXPECT_EQ(query->Fields().Count(), 0);
}

TEST_F(IBDataSetTest, PersistentFieldsBindByNameIgnoringLetterCase) {
  auto query = Query("SELECT ID, C_SMALL, C_VAR60 FROM Tb_Tipos ORDER BY ID");
  TIntegerField small, id;
  Declare(small, *query, "c_small");
  Declare(id, *query, "Id");
  query->Open();
  EXPECT_EQ(small.FieldNo(), 2);
  EXPECT_EQ(id.FieldNo(), 1);
  EXPECT_EQ(small.IntegerValue(), -7);
  EXPECT_EQ(id.IntegerValue(), 1);
  EXPECT_FALSE(query->DefaultFields());
  EXPECT_EQ(query->Fields().Count(), 2);
}

TEST_F(IBDataSetTest, BindingErrorsNameTheDatasetAndLeaveItClosed) {
  auto missingQuery = Query("SELECT ID FROM Tb_Tipos");
  TIntegerField missing;
  Declare(missing, *missingQuery, "C_NADA");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { missingQuery->Open(); }),
            "Q: Field 'C_NADA' not found");
  EXPECT_FALSE(missingQuery->Active());
  EXPECT_EQ(missing.FieldNo(), 0);

  auto textQuery = Query("SELECT C_VAR60 FROM Tb_Tipos");
  TIntegerField text;
  Declare(text, *textQuery, "C_VAR60");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { textQuery->Open(); }),
            "Q: Type mismatch for field 'C_VAR60', expecting: Integer actual: String");
  EXPECT_FALSE(textQuery->Active());

  auto query = Query("SELECT C_NUM FROM Tb_Tipos");
  TIBBCDField wrongScale(4);
  Declare(wrongScale, *query, "C_NUM");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { query->Open(); }),
            "Q: Size mismatch for field 'C_NUM', expecting: 4 actual: 2");
  EXPECT_FALSE(query->Active());
  wrongScale.SetDataSet(nullptr);
  TIBBCDField rightScale(2);
  Declare(rightScale, *query, "C_NUM");
  query->Open();
  EXPECT_EQ(rightScale.StringValue(), "123.45");
  EXPECT_EQ(rightScale.CurrencyScaled(), 1234500);
}

TEST_F(IBDataSetTest, TextLongerThanTheFieldFailsOnlyWhenRead) {
  auto query = Query("SELECT ID, C_VAR60 FROM Tb_Tipos ORDER BY ID");
  TIntegerField id;
  Declare(id, *query, "ID");
  TIBStringField text(45);
  Declare(text, *query, "C_VAR60");
  query->Open();  // the smaller Size does not stop the binding
  EXPECT_EQ(text.StringValue(), k45);
  query->MoveNext();
  const EIBClientError e = ErrorOf<EIBClientError>([&] { text.StringValue(); });
  EXPECT_EQ(e.SqlCode, 117);
  EXPECT_EQ(e.Message, "Size Mismatch - Field C_VAR60 size is too small for data");
  // The row stays current.
  EXPECT_FALSE(query->AtEnd());
  EXPECT_EQ(id.IntegerValue(), 2);
}

TEST_F(IBDataSetTest, FixedTextIsTrimmedOrPaddedToTheFieldSize) {
  auto query = Query("SELECT C_CHAR, C_VAR60 FROM Tb_Tipos WHERE ID = 1");
  TIBStringField fixed(10);
  Declare(fixed, *query, "C_CHAR");
  const struct {
    bool fixedChar;
    int size;
    const char* text;
  } reads[] = {{false, 10, "abc"}, {true, 10, "abc       "}, {true, 12, "abc         "}};
  for (const auto& read : reads) {
    fixed.FixedChar = read.fixedChar;
    fixed.SetSize(read.size);
    query->Open();
    EXPECT_EQ(fixed.StringValue(), read.text);
    query->Close();
  }
  fixed.SetSize(9);
  query->Open();
  EXPECT_EQ(MessageOf<EIBClientError>([&] { fixed.StringValue(); }),
            "Size Mismatch - Field C_CHAR size is too small for data");
}

TEST_F(IBDataSetTest, NullValuesReadAsEmptyTextAndZero) {
  auto query = Query("SELECT C_SMALL, C_CHAR, C_DOUBLE FROM Tb_Tipos WHERE ID = 2");
  TIntegerField small;
  Declare(small, *query, "C_SMALL");
  TIBStringField text(10);
  Declare(text, *query, "C_CHAR");
  query->Open();
  EXPECT_TRUE(small.IsNull());
  EXPECT_EQ(small.IntegerValue(), 0);
  EXPECT_EQ(small.StringValue(), "");
  EXPECT_TRUE(text.IsNull());
  EXPECT_EQ(text.StringValue(), "");
}

TEST(IBFields, AFieldWithoutDatasetCannotBeRead) {
  TIBStringField field(45);
  field.Name = "Q_MusicasMUS_NOME";
  field.FieldName = "MUS_NOME";
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { field.StringValue(); }),
            "Q_MusicasMUS_NOME: Field 'MUS_NOME' has no dataset");
  TIntegerField unnamed;
  unnamed.FieldName = "MUS_CODIGO";
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { unnamed.IntegerValue(); }),
            "Field 'MUS_CODIGO' has no dataset");
}

TEST_F(IBDataSetTest, AnEmptyResultEndsAtOnce) {
  auto query = Query("SELECT N FROM Tb_Numeros WHERE N < 0");
  TIntegerField n;
  Declare(n, *query, "N");
  query->Open();
  EXPECT_TRUE(query->AtEnd());
  EXPECT_TRUE(query->AtStart());
  EXPECT_TRUE(Walk(*query, n).empty());
  EXPECT_EQ(n.IntegerValue(), 0);
  query->MoveFirst();
  EXPECT_TRUE(query->AtEnd());
  EXPECT_EQ(query->CachedRowCount(), 0);
}

TEST_F(IBDataSetTest, OneRowStaysReadableAfterTheEnd) {
  auto query = Query("SELECT N FROM Tb_Numeros WHERE N = 7");
  TIntegerField n;
  Declare(n, *query, "N");
  TDataSource source("Ds");
  source.SetDataSet(query.get());
  int scrolls = 0;
  source.OnDataChange = [&](TDataSource&, TDataEvent event) {
    if (event == deDataSetScroll) ++scrolls;
  };
  query->Open();
  EXPECT_FALSE(query->AtEnd());
  query->MoveNext();
  EXPECT_TRUE(query->AtEnd());
  EXPECT_FALSE(query->AtStart());
  EXPECT_EQ(n.IntegerValue(), 7);
  EXPECT_EQ(scrolls, 1);
  query->MoveNext();
  EXPECT_EQ(scrolls, 1);
  EXPECT_EQ(n.IntegerValue(), 7);
}

TEST_F(IBDataSetTest, TheCacheGrowsByChunksAndMoveFirstWalksItAgain) {
  test::TraceRecorder trace(database, TraceFlag(tfQExecute) | TraceFlag(tfQFetch));
  const auto fetches = [&] { return trace.Count(tfQFetch, "FROM Tb_Numeros"); };
  auto query = Query("SELECT N FROM Tb_Numeros ORDER BY N");
  TIntegerField n;
  Declare(n, *query, "N");
  EXPECT_EQ(query->BufferChunks(), 1000);
  query->Open();
  const std::size_t chunk = query->RecordSlotSize() * 1000;
  EXPECT_EQ(query->RecordCacheSize(), chunk);
  EXPECT_EQ(query->CachedRowCount(), 1);

  std::vector<int> firstWalk;
  for (; !query->AtEnd(); query->MoveNext()) {
    firstWalk.push_back(n.IntegerValue());
    // The 1000th row needs a second chunk.
    if (firstWalk.size() == 999) {
      EXPECT_EQ(query->RecordCacheSize(), chunk);
    }
    if (firstWalk.size() == 1000) {
      EXPECT_EQ(query->RecordCacheSize(), 2 * chunk);
    }
  }
  EXPECT_EQ(firstWalk, Numbers(1, kNumbers));
  EXPECT_EQ(query->CachedRowCount(), kNumbers);
  EXPECT_EQ(query->RecordCacheSize(), 2 * chunk);
  EXPECT_EQ(fetches(), kNumbers + 1);

  query->MoveFirst();
  EXPECT_EQ(Walk(*query, n), Numbers(1, kNumbers));
  EXPECT_EQ(trace.Count(tfQExecute, "FROM Tb_Numeros"), 1);
  EXPECT_EQ(fetches(), kNumbers + 1);  // the second walk fetched nothing

  query->Close();
  EXPECT_EQ(query->RecordCacheSize(), 0u);
  EXPECT_EQ(query->CachedRowCount(), 0);
}

TEST_F(IBDataSetTest, MoveFirstInTheMiddleReadsTheCacheThenTheCursor) {
  auto query = Query("SELECT N FROM Tb_Numeros WHERE N <= 20 ORDER BY N");
  TIntegerField n;
  Declare(n, *query, "N");
  query->Open();
  for (int i = 0; i < 5; ++i) query->MoveNext();
  EXPECT_EQ(n.IntegerValue(), 6);
  EXPECT_EQ(query->CachedRowCount(), 6);
  query->MoveFirst();
  EXPECT_TRUE(query->AtStart());
  EXPECT_FALSE(query->AtEnd());
  EXPECT_EQ(Walk(*query, n), Numbers(1, 20));
}

TEST_F(IBDataSetTest, BufferChunksSetsTheGrowthStep) {
  auto query = Query("SELECT N FROM Tb_Numeros ORDER BY N");
  query->SetBufferChunks(0);
  EXPECT_EQ(query->BufferChunks(), 1000);
  query->SetBufferChunks(-3);
  EXPECT_EQ(query->BufferChunks(), 1000);
  query->SetBufferChunks(10);
  EXPECT_EQ(query->BufferChunks(), 10);
  query->Open();
  const std::size_t slot = query->RecordSlotSize();
  EXPECT_EQ(query->RecordCacheSize(), 10 * slot);
  for (int i = 1; i < 10; ++i) query->MoveNext();  // the 10th row
  EXPECT_EQ(query->RecordCacheSize(), 20 * slot);
  for (int i = 0; i < 15; ++i) query->MoveNext();  // the 25th row
  EXPECT_EQ(query->RecordCacheSize(), 30 * slot);
}

// A dialect-3 database for the 64-bit integer columns that dialect 1 does not have.
TEST(IBDataSetDialect3, A64BitColumnDoesNotBindToAnIntegerField) {
  test::FirebirdDatabase database(test::DefaultSongs(),
                                  "CREATE TABLE Tb_Big (B BIGINT, S SMALLINT, D NUMERIC(18,6));\n"
                                  "INSERT INTO Tb_Big VALUES (4294967298, 12, -1.5);\n",
                                  3);
  test::WindowConnection connection(database.Path(), 3);
  connection.database.Open();
  auto query = connection.Query("SELECT B, S, D FROM Tb_Big");
  TIntegerField big;
  Declare(big, *query, "B");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { query->Open(); }),
            "Q: Type mismatch for field 'B', expecting: Integer actual: LargeInt");
  EXPECT_FALSE(query->Active());
  big.SetDataSet(nullptr);

  TLargeintField large;
  Declare(large, *query, "B");
  TIntegerField small;
  Declare(small, *query, "S");
  query->Open();
  EXPECT_EQ(large.LargeintValue(), 4294967298LL);
  EXPECT_EQ(large.IntegerValue(), 2);  // the low 32 bits
  EXPECT_EQ(small.IntegerValue(), 12);
  query->Close();

  // Default fields: a 64-bit count and a decimal with six places.
  auto count = connection.Query("SELECT COUNT(*), MAX(D) FROM Tb_Big");
  count->Open();
  ASSERT_EQ(count->Fields().Count(), 2);
  EXPECT_NE(dynamic_cast<TLargeintField*>(count->Fields()[0]), nullptr);
  EXPECT_EQ(count->Fields()[0]->IntegerValue(), 1);
  ASSERT_NE(dynamic_cast<TFMTBCDField*>(count->Fields()[1]), nullptr);
  EXPECT_EQ(count->Fields()[1]->StringValue(), "-1.500000");
  EXPECT_EQ(count->FieldDefs().Items(1).Precision, 18);
}

}  // namespace
