// Column definitions, field binding and the record cache of the query datasets, against the
// embedded engine: types and sizes of definitions, the errors of binding, reading text and
// integers out of the record, the column-information cache, and the growth of the cache.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/DataSource.h"
#include "db/IBDatabase.h"
#include "db/IBErrors.h"
#include "db/IBFields.h"
#include "db/IBQuery.h"
#include "db/IBSQL.h"
#include "db/IBSQLMonitor.h"
#include "db/IBSchema.h"
#include "db/IBTransaction.h"
#include "tests/support/Failures.h"
#include "tests/support/FirebirdFixture.h"

namespace {

const std::string k45(45, 'a');
const std::string k46(46, 'b');

// Tables beside Tb_Musicas: every kind of column the definitions distinguish, and a table of
// numbers for the cache.
const std::string kExtraSql =
    "CREATE TABLE Tb_Tipos (ID INTEGER NOT NULL PRIMARY KEY, C_SMALL SMALLINT, "
    "C_CHAR CHAR(10), C_VAR60 VARCHAR(60), C_NUM NUMERIC(9,2), "
    "C_DEF INTEGER DEFAULT 5 NOT NULL, C_CALC COMPUTED BY (ID * 2), C_DOUBLE DOUBLE PRECISION);\n"
    "INSERT INTO Tb_Tipos (ID, C_SMALL, C_CHAR, C_VAR60, C_NUM, C_DEF, C_DOUBLE) "
    "VALUES (1, -7, 'abc', '" +
    k45 +
    "', 123.45, 6, 0.5);\n"
    "INSERT INTO Tb_Tipos (ID, C_VAR60) VALUES (2, '" +
    k46 +
    "');\n"
    "CREATE TABLE Tb_Numeros (N INTEGER NOT NULL PRIMARY KEY);\n";

// Rows of Tb_Numeros.
constexpr int kNumbers = 1500;

struct Connection {
  explicit Connection(const std::string& path, int dialect = 1) {
    database.SetDatabaseName(path);
    database.SetParams(test::DefaultDatabaseParams());
    database.LoginPrompt = false;
    database.SetSQLDialect(dialect);
    transaction.SetParams({"read_committed", "rec_version", "nowait"});
    transaction.SetDefaultDatabase(&database);
    database.Open();
  }
  ~Connection() {
    try {
      if (transaction.Active()) transaction.Rollback();
      database.Close();
    } catch (...) {
    }
  }
  std::unique_ptr<TIBQuery> Query(const std::string& sql, const std::string& name = "Q") {
    auto query = std::make_unique<TIBQuery>(name);
    query->SetDatabase(&database);
    query->SetTransaction(&transaction);
    query->SQL().Add(sql);
    return query;
  }

  TIBDatabase database{"DB"};
  TIBTransaction transaction{"TR"};
};

using test::MessageOf;

template <class T>
T& Declare(T& field, TDataSet& dataSet, const std::string& column) {
  field.FieldName = column;
  field.SetDataSet(&dataSet);
  return field;
}

class IBDataSetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    database_ = std::make_unique<test::FirebirdDatabase>(test::DefaultSongs(), kExtraSql);
    Connection connection(database_->Path());
    TIBSQL insert(&connection.database);
    insert.SetTransaction(&connection.transaction);
    connection.transaction.Start();
    insert.SetSQL({"INSERT INTO Tb_Numeros VALUES (:N)"});
    for (int n = 1; n <= kNumbers; ++n) {
      insert.Params()[0].SetLongValue(n);
      insert.ExecQuery();
    }
    connection.transaction.Commit();
  }
  static void TearDownTestSuite() { database_.reset(); }
  void SetUp() override { connection_ = std::make_unique<Connection>(database_->Path()); }
  void TearDown() override { connection_.reset(); }

  Connection& connection() { return *connection_; }

 private:
  static std::unique_ptr<test::FirebirdDatabase> database_;
  std::unique_ptr<Connection> connection_;
};

std::unique_ptr<test::FirebirdDatabase> IBDataSetTest::database_;

TEST_F(IBDataSetTest, DefinitionsCarryTypesSizesAndAttributesFromTheColumns) {
  auto query = connection().Query(
      "SELECT ID, C_SMALL, C_CHAR, C_VAR60, C_NUM, C_DEF, C_CALC, C_DOUBLE FROM Tb_Tipos");
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
  auto count = connection().Query("SELECT COUNT(*) FROM Tb_Musicas");
  count->Open();
  ASSERT_EQ(count->FieldDefs().Count(), 1);
  EXPECT_FALSE(count->FieldDefs().Items(0).Required);
  EXPECT_EQ(connection().database.Schema(), nullptr);
  ASSERT_EQ(count->Fields().Count(), 1);
  EXPECT_EQ(count->Fields()[0]->IntegerValue(), 3);
  EXPECT_EQ(count->Fields()[0]->ProviderFlags, 0u);
}

TEST_F(IBDataSetTest, TheColumnCacheLoadsEachTableOnce) {
  connection().database.TraceFlags = TraceFlag(tfQPrepare);
  int catalogueStatements = 0;
  const int listener = MonitorHook()->AddListener([&](const TTraceEntry& entry) {
    if (entry.Text.find("RDB$RELATION_FIELDS") != std::string::npos ||
        entry.Text.find("RDB$RELATION_CONSTRAINTS") != std::string::npos)
      ++catalogueStatements;
  });
  auto first = connection().Query("SELECT ID, C_DEF FROM Tb_Tipos", "Q1");
  auto second = connection().Query("SELECT C_CALC, ID FROM Tb_Tipos", "Q2");
  first->Open();
  second->Open();
  MonitorHook()->RemoveListener(listener);
  EXPECT_EQ(catalogueStatements, 2);
  ASSERT_NE(connection().database.Schema(), nullptr);
  auto& schema = dynamic_cast<TSchema&>(*connection().database.Schema());
  EXPECT_EQ(schema.RelationsLoaded(), 1);
  EXPECT_TRUE(second->FieldDefs().Items(0).InternalCalcField);

  auto songs = connection().Query("SELECT Mus_Codigo FROM Tb_Musicas", "Q3");
  songs->Open();
  EXPECT_EQ(schema.RelationsLoaded(), 2);
  EXPECT_TRUE(schema.IsKeyColumn("TB_MUSICAS", "MUS_CODIGO"));
  EXPECT_FALSE(schema.IsKeyColumn("TB_MUSICAS", "mus_codigo"));  // answers need the exact name
  EXPECT_TRUE(schema.HasDefaultValue("tb_tipos", "C_DEF"));
  EXPECT_TRUE(schema.IsComputedColumn("TB_TIPOS", "C_CALC"));
  EXPECT_FALSE(schema.HasDefaultValue("TB_TIPOS", "ID"));
  EXPECT_EQ(schema.RelationsLoaded(), 2);
  // The internal transaction the cache started for loading has been committed again.
  EXPECT_FALSE(connection().database.InternalTransaction()->Active());
}

TEST_F(IBDataSetTest, DefaultFieldsFollowTheDefinitions) {
  auto query = connection().Query("SELECT ID, C_CHAR, C_NUM, C_CALC, C_DOUBLE FROM Tb_Tipos");
  query->Open();
  ASSERT_EQ(query->Fields().Count(), 5);
  EXPECT_TRUE(query->DefaultFields());
  EXPECT_NE(dynamic_cast<TIntegerField*>(query->Fields()[0]), nullptr);
  auto* text = dynamic_cast<TIBStringField*>(query->Fields()[1]);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Size(), 10);
  EXPECT_NE(dynamic_cast<TIBBCDField*>(query->Fields()[2]), nullptr);
  EXPECT_NE(dynamic_cast<TFloatField*>(query->Fields()[4]), nullptr);
  EXPECT_EQ(query->Fields()[0]->Origin, "TB_TIPOS.ID");
  EXPECT_EQ(query->Fields()[0]->ProviderFlags, unsigned(pfInUpdate | pfInWhere | pfInKey));
  EXPECT_EQ(query->Fields()[1]->ProviderFlags, unsigned(pfInUpdate | pfInWhere));
  EXPECT_EQ(query->Fields()[3]->ProviderFlags, 0u);
  EXPECT_TRUE(query->Fields()[0]->Required);

  EXPECT_EQ(query->Fields()[0]->IntegerValue(), 1);
  EXPECT_EQ(query->Fields()[1]->StringValue(), "abc");
  EXPECT_EQ(query->Fields()[2]->StringValue(), "123.45");
  EXPECT_EQ(query->Fields()[3]->StringValue(), "2");
  EXPECT_EQ(query->Fields()[4]->StringValue(), "0.5");
  query->Close();
  EXPECT_EQ(query->Fields().Count(), 0);
}

TEST_F(IBDataSetTest, PersistentFieldsBindByNameIgnoringLetterCase) {
  auto query = connection().Query("SELECT ID, C_SMALL, C_VAR60 FROM Tb_Tipos ORDER BY ID");
  TIntegerField small;
  Declare(small, *query, "c_small");
  TIntegerField id;
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
  {
    auto query = connection().Query("SELECT ID FROM Tb_Tipos");
    TIntegerField missing;
    Declare(missing, *query, "C_NADA");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { query->Open(); }), "Q: Field 'C_NADA' not found");
    EXPECT_FALSE(query->Active());
    EXPECT_EQ(missing.FieldNo(), 0);
  }
  {
    auto query = connection().Query("SELECT C_NUM FROM Tb_Tipos");
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
  {
    auto query = connection().Query("SELECT C_VAR60 FROM Tb_Tipos");
    TIntegerField text;
    Declare(text, *query, "C_VAR60");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { query->Open(); }),
              "Q: Type mismatch for field 'C_VAR60', expecting: Integer actual: String");
    EXPECT_FALSE(query->Active());
  }
}

TEST_F(IBDataSetTest, TextLongerThanTheFieldFailsOnlyWhenRead) {
  auto query = connection().Query("SELECT ID, C_VAR60 FROM Tb_Tipos ORDER BY ID");
  TIntegerField id;
  Declare(id, *query, "ID");
  TIBStringField text(45);
  Declare(text, *query, "C_VAR60");
  query->Open();  // the smaller Size does not stop the binding
  EXPECT_EQ(text.StringValue(), k45);
  query->MoveNext();
  try {
    text.StringValue();
    ADD_FAILURE() << "no error";
  } catch (const EIBClientError& e) {
    EXPECT_EQ(e.SqlCode, 117);
    EXPECT_EQ(e.Message, "Size Mismatch - Field C_VAR60 size is too small for data");
  }
  // The row stays current.
  EXPECT_FALSE(query->AtEnd());
  EXPECT_EQ(id.IntegerValue(), 2);
}

TEST_F(IBDataSetTest, FixedTextIsTrimmedOrPaddedToTheFieldSize) {
  auto query = connection().Query("SELECT C_CHAR, C_VAR60 FROM Tb_Tipos WHERE ID = 1");
  TIBStringField fixed(10);
  Declare(fixed, *query, "C_CHAR");
  query->Open();
  EXPECT_EQ(fixed.StringValue(), "abc");
  query->Close();
  fixed.FixedChar = true;
  query->Open();
  EXPECT_EQ(fixed.StringValue(), "abc       ");
  query->Close();
  fixed.SetSize(12);
  query->Open();
  EXPECT_EQ(fixed.StringValue(), "abc         ");
  query->Close();
  fixed.SetSize(9);
  query->Open();
  EXPECT_EQ(MessageOf<EIBClientError>([&] { fixed.StringValue(); }),
            "Size Mismatch - Field C_CHAR size is too small for data");
}

TEST_F(IBDataSetTest, NullValuesReadAsEmptyTextAndZero) {
  auto query = connection().Query("SELECT C_SMALL, C_CHAR, C_DOUBLE FROM Tb_Tipos WHERE ID = 2");
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
  auto query = connection().Query("SELECT N FROM Tb_Numeros WHERE N < 0");
  TIntegerField n;
  Declare(n, *query, "N");
  query->Open();
  EXPECT_TRUE(query->AtEnd());
  EXPECT_TRUE(query->AtStart());
  int rows = 0;
  while (!query->AtEnd()) {
    ++rows;
    query->MoveNext();
  }
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(n.IntegerValue(), 0);
  query->MoveFirst();
  EXPECT_TRUE(query->AtEnd());
  EXPECT_EQ(query->CachedRowCount(), 0);
}

TEST_F(IBDataSetTest, OneRowStaysReadableAfterTheEnd) {
  auto query = connection().Query("SELECT N FROM Tb_Numeros WHERE N = 7");
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
  connection().database.TraceFlags = TraceFlag(tfQExecute) | TraceFlag(tfQFetch);
  int executes = 0;
  int fetches = 0;
  const int listener = MonitorHook()->AddListener([&](const TTraceEntry& entry) {
    if (entry.Text.find("FROM Tb_Numeros") == std::string::npos) return;
    if (entry.Flag == tfQExecute) ++executes;
    if (entry.Flag == tfQFetch) ++fetches;
  });
  auto query = connection().Query("SELECT N FROM Tb_Numeros ORDER BY N");
  TIntegerField n;
  Declare(n, *query, "N");
  EXPECT_EQ(query->BufferChunks(), 1000);
  query->Open();
  const std::size_t chunk = query->RecordSlotSize() * 1000;
  EXPECT_EQ(query->RecordCacheSize(), chunk);
  EXPECT_EQ(query->CachedRowCount(), 1);

  int expected = 1;
  while (!query->AtEnd()) {
    ASSERT_EQ(n.IntegerValue(), expected);
    if (expected == 999) {
      EXPECT_EQ(query->RecordCacheSize(), chunk);
    }
    if (expected == 1000) {
      EXPECT_EQ(query->RecordCacheSize(), 2 * chunk);
    }
    ++expected;
    query->MoveNext();
  }
  EXPECT_EQ(expected, kNumbers + 1);
  EXPECT_EQ(query->CachedRowCount(), kNumbers);
  EXPECT_EQ(query->RecordCacheSize(), 2 * chunk);
  const int fetchesOfTheFirstWalk = fetches;

  query->MoveFirst();
  expected = 1;
  while (!query->AtEnd()) {
    ASSERT_EQ(n.IntegerValue(), expected);
    ++expected;
    query->MoveNext();
  }
  EXPECT_EQ(expected, kNumbers + 1);
  MonitorHook()->RemoveListener(listener);
  EXPECT_EQ(executes, 1);
  EXPECT_EQ(fetches, fetchesOfTheFirstWalk);
  EXPECT_EQ(fetchesOfTheFirstWalk, kNumbers + 1);

  query->Close();
  EXPECT_EQ(query->RecordCacheSize(), 0u);
  EXPECT_EQ(query->CachedRowCount(), 0);
}

TEST_F(IBDataSetTest, MoveFirstInTheMiddleReadsTheCacheThenTheCursor) {
  auto query = connection().Query("SELECT N FROM Tb_Numeros WHERE N <= 20 ORDER BY N");
  TIntegerField n;
  Declare(n, *query, "N");
  query->Open();
  for (int i = 0; i < 5; ++i) query->MoveNext();
  EXPECT_EQ(n.IntegerValue(), 6);
  EXPECT_EQ(query->CachedRowCount(), 6);
  query->MoveFirst();
  EXPECT_TRUE(query->AtStart());
  EXPECT_FALSE(query->AtEnd());
  std::vector<int> walked;
  while (!query->AtEnd()) {
    walked.push_back(n.IntegerValue());
    query->MoveNext();
  }
  ASSERT_EQ(walked.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(walked[static_cast<std::size_t>(i)], i + 1);
}

TEST_F(IBDataSetTest, BufferChunksSetsTheGrowthStep) {
  auto query = connection().Query("SELECT N FROM Tb_Numeros ORDER BY N");
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
class Dialect3Database {
 public:
  Dialect3Database() {
    char folder[] = "/tmp/lirenta-dataset-XXXXXX";
    if (mkdtemp(folder) == nullptr) throw std::runtime_error("no temporary folder");
    folder_ = folder;
    path_ = folder_ + "/d3.fdb";
    std::string output;
    const int status =
        test::RunIsql("SET SQL DIALECT 3;\nCREATE DATABASE '" + path_ +
                          "' USER 'SYSDBA';\n"
                          "CREATE TABLE Tb_Big (B BIGINT, S SMALLINT, D NUMERIC(18,6));\n"
                          "INSERT INTO Tb_Big VALUES (4294967298, 12, -1.5);\nCOMMIT;\n",
                      {}, output);
    if (status != 0) throw std::runtime_error(output);
  }
  ~Dialect3Database() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
};

TEST(IBDataSetDialect3, A64BitColumnDoesNotBindToAnIntegerField) {
  Dialect3Database database;
  Connection connection(database.Path(), 3);
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
