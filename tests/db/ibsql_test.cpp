// Statements against the embedded engine: prepare, execute and fetch of selects, counts and
// parameterised updates, values of the column types, errors of the server and of the client,
// cursors across the ends of a transaction.
#include "db/IBSQL.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "db/IBDatabase.h"
#include "db/IBErrors.h"
#include "db/IBSQLMonitor.h"
#include "db/IBTransaction.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/Failures.h"
#include "tests/support/FirebirdFixture.h"

namespace {

// Extra tables: one row of every column type a dialect-1 database has, and an empty table for
// bulk work.
constexpr const char* kExtraSql =
    "CREATE TABLE Tb_Tipos (ID INTEGER NOT NULL PRIMARY KEY, C_CHAR CHAR(10), "
    "C_VARCHAR VARCHAR(10), C_NUM NUMERIC(9,2), C_SMALLNUM NUMERIC(4,1), "
    "C_DOUBLE DOUBLE PRECISION, C_DATE DATE, C_BOOL BOOLEAN, C_BLOB BLOB SUB_TYPE 1);\n"
    "INSERT INTO Tb_Tipos VALUES (1, 'abc', 'abc', 123.45, -12.3, 0.1, "
    "'2024-03-07 14:05:09', TRUE, 'um texto longo');\n"
    "INSERT INTO Tb_Tipos (ID) VALUES (2);\n"
    "CREATE TABLE Tb_Numeros (N INTEGER NOT NULL PRIMARY KEY, V VARCHAR(45));\n";

const std::string kUpdate =
    "UPDATE Tb_Musicas SET Mus_Compositor = :Compositor WHERE Mus_Codigo = :Codigo";
const std::string kSelectSongs =
    "SELECT Mus_Codigo, Mus_Nome, Mus_Interprete, Mus_Compositor FROM Tb_Musicas "
    "ORDER BY Mus_Codigo";

template <class F>
EIBClientError ClientErrorOf(F action) {
  return test::FailureOf<EIBClientError>(action, -1, "");
}

template <class F>
EIBInterBaseError ServerErrorOf(F action) {
  return test::FailureOf<EIBInterBaseError>(action, 0, 0, "");
}

// "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}" in upper-case hexadecimal, Y one of 8, 9, A, B.
bool IsRandomGuidText(const std::string& text) {
  const std::string shape = "{00000000-0000-4000-8000-000000000000}";
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const char c = text[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    if (shape[i] == '0' && !hex) return false;
    if (shape[i] == '4' && c != '4') return false;
    if (shape[i] == '8' && std::string("89AB").find(c) == std::string::npos) return false;
    if ((shape[i] == '{' || shape[i] == '}' || shape[i] == '-') && c != shape[i]) return false;
  }
  return true;
}

class IBSQLTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    database_ = std::make_unique<test::FirebirdDatabase>(test::DefaultSongs(), kExtraSql);
  }
  static void TearDownTestSuite() { database_.reset(); }

  void SetUp() override {
    database.SetDatabaseName(database_->Path());
    database.SetParams(test::DefaultDatabaseParams());
    database.LoginPrompt = false;
    database.SetSQLDialect(1);
    transaction.SetParams({"read_committed", "rec_version", "nowait"});
    transaction.SetDefaultDatabase(&database);
    database.Open();
    transaction.Start();
  }

  void TearDown() override {
    if (transaction.Active()) transaction.Rollback();
    database.Close();
  }

  // A statement of this database and transaction with `sql` as its single line.
  std::unique_ptr<TIBSQL> Statement(const std::string& sql) {
    auto s = std::make_unique<TIBSQL>(&database);
    s->SetTransaction(&transaction);
    s->SetSQL({sql});
    return s;
  }

  int Count(const std::string& where = {}) {
    auto s = Statement("SELECT COUNT(*) FROM Tb_Musicas " + where);
    s->ExecQuery();
    return s->Fields(0).LongValue();
  }

  static std::unique_ptr<test::FirebirdDatabase> database_;
  TIBDatabase database{"DB_Kavro"};
  TIBTransaction transaction{"Trans_Kavro"};
};

std::unique_ptr<test::FirebirdDatabase> IBSQLTest::database_;

// Counts the fetch entries the trace hook hands to a listener while it lives.
class FetchCounter {
 public:
  explicit FetchCounter(TIBDatabase& database) : database_(database) {
    database_.TraceFlags = TraceFlag(tfQFetch);
    id_ = MonitorHook()->AddListener([this](const TTraceEntry& e) {
      if (e.Text.find(": [Fetch]") != std::string::npos) ++Count;
    });
  }
  ~FetchCounter() {
    MonitorHook()->RemoveListener(id_);
    database_.TraceFlags = 0;
  }
  int Count = 0;

 private:
  TIBDatabase& database_;
  int id_ = 0;
};

TEST_F(IBSQLTest, SelectDescribesColumnsAndFetchesUntilEndOfDataAsReturnValue) {
  auto s = Statement(kSelectSongs);
  s->Prepare();
  EXPECT_EQ(s->SQLType(), SQLSelect);
  ASSERT_EQ(s->Current().Count(), 4);
  EXPECT_EQ(s->Fields(0).Name(), "MUS_CODIGO");
  EXPECT_EQ(s->Fields(3).Name(), "MUS_COMPOSITOR");
  EXPECT_EQ(s->Fields(1).SqlType(), SQL_VARYING);
  EXPECT_EQ(s->Fields(1).MaxLen(), 45);
  EXPECT_EQ(s->Fields(0).MaxLen(), 0);
  EXPECT_EQ(s->Current().UniqueRelationName(), "TB_MUSICAS");
  EXPECT_EQ(s->FieldIndex("mus_nome"), 1);
  EXPECT_EQ(s->FieldIndex("Mus_Nada"), -1);

  FetchCounter fetches(database);
  s->ExecQuery();  // fetches the first row
  EXPECT_TRUE(s->Open());
  EXPECT_FALSE(s->Eof());
  EXPECT_FALSE(s->Bof());
  EXPECT_EQ(s->RecordCount(), 1);
  EXPECT_EQ(s->Fields(0).LongValue(), 1);
  EXPECT_EQ(s->Fields(1).TextValue(), test::DefaultSongs()[0].Nome);
  EXPECT_EQ(s->Fields(2).TextValue(), test::DefaultSongs()[0].Interprete);
  EXPECT_TRUE(s->Fields(3).IsNull());
  EXPECT_EQ(s->Fields(3).TextValue(), "");

  ASSERT_NE(s->FetchNext(), nullptr);
  TIBXSQLDA* row = s->FetchNext();
  ASSERT_EQ(row, &s->Current());
  EXPECT_EQ((*row)[0].LongValue(), 3);
  EXPECT_EQ((*row)[3].TextValue(), "Desconhecido");
  EXPECT_EQ(s->RecordCount(), 3);
  EXPECT_EQ(fetches.Count, 3);

  EXPECT_EQ(s->FetchNext(), nullptr);
  EXPECT_TRUE(s->Eof());
  EXPECT_EQ(fetches.Count, 4);  // the fetch that met the end is reported
  EXPECT_EQ(s->FetchNext(), nullptr);
  EXPECT_EQ(fetches.Count, 4);  // no further server call
  EXPECT_EQ(s->RecordCount(), 3);

  s->Close();
  EXPECT_FALSE(s->Open());
  EXPECT_FALSE(s->Eof());
  EXPECT_EQ(s->RecordCount(), 0);
  EXPECT_TRUE(s->Prepared());
  EIBClientError closed = ClientErrorOf([&] { s->FetchNext(); });
  EXPECT_EQ(closed.SqlCode, 32);
  EXPECT_EQ(closed.Message, "IBSQL Closed");
}

TEST_F(IBSQLTest, CountReadsAsInteger) {
  auto s = Statement("SELECT COUNT(*) FROM Tb_Musicas");
  s->ExecQuery();
  ASSERT_EQ(s->Current().Count(), 1);
  EXPECT_EQ(s->Fields(0).LongValue(), 3);
  EXPECT_EQ(s->Fields(0).TextValue(), "3");
  EIBClientError e = ClientErrorOf([&] { s->Fields(1); });
  EXPECT_EQ(e.SqlCode, 46);
  EXPECT_EQ(e.Message, "Field \"1\" not found");
}

TEST_F(IBSQLTest, EmptyResultIsEndOfDataAtOnce) {
  auto s = Statement("SELECT Mus_Nome FROM Tb_Musicas WHERE Mus_Codigo < 0");
  s->ExecQuery();
  EXPECT_TRUE(s->Open());
  EXPECT_TRUE(s->Eof());
  EXPECT_EQ(s->RecordCount(), 0);
  EXPECT_EQ(s->FetchNext(), nullptr);
}

TEST_F(IBSQLTest, WithoutGoToFirstRecordTheCursorStartsBeforeTheFirstRow) {
  auto s = Statement(kSelectSongs);
  s->GoToFirstRecordOnExecute = false;
  s->ExecQuery();
  EXPECT_TRUE(s->Bof());
  EXPECT_EQ(s->RecordCount(), 0);
  ASSERT_NE(s->FetchNext(), nullptr);
  EXPECT_FALSE(s->Bof());
  EXPECT_EQ(s->Fields(0).LongValue(), 1);
}

TEST_F(IBSQLTest, PreparedUpdateRunsWithNewValuesWithoutPreparingAgain) {
  auto s = Statement(kUpdate);
  TIBXSQLDA& params = s->Params();
  EXPECT_TRUE(s->Prepared());
  EXPECT_EQ(s->SQLType(), SQLUpdate);
  EXPECT_EQ(s->ProcessedSQL(), "UPDATE Tb_Musicas SET Mus_Compositor = ? WHERE Mus_Codigo = ?\r\n");
  ASSERT_EQ(params.Count(), 2);
  EXPECT_EQ(params.NormalizedName(0), "COMPOSITOR");
  EXPECT_EQ(params.NormalizedName(1), "CODIGO");
  EXPECT_EQ(params[0].MaxLen(), 45);
  EXPECT_EQ(s->Current().Count(), 0);
  const isc_stmt_handle handle = s->Handle();

  const std::vector<std::string> composers = {"Ana Flor", "Z\xE9 do Caf\xE9", std::string(45, 'x')};
  for (int codigo = 1; codigo <= 3; ++codigo) {
    params.ByName("compositor").SetTextValue(composers[std::size_t(codigo - 1)]);
    params.ByName("Codigo").SetLongValue(codigo);
    s->ExecQuery();
    EXPECT_EQ(s->RowsAffected(), 1);
    EXPECT_FALSE(s->Open());
  }
  EXPECT_EQ(s->Handle(), handle);

  auto check = Statement("SELECT Mus_Compositor FROM Tb_Musicas ORDER BY Mus_Codigo");
  check->ExecQuery();
  for (const std::string& expected : composers) {
    ASSERT_FALSE(check->Eof());
    EXPECT_EQ(check->Fields(0).TextValue(), expected);
    check->FetchNext();
  }
  EXPECT_TRUE(check->Eof());
}

TEST_F(IBSQLTest, NullParameterStoresNull) {
  auto s = Statement(kUpdate);
  s->Params().ByName("Compositor").SetIsNull(true);
  s->Params().ByName("Codigo").SetLongValue(3);
  s->ExecQuery();
  EXPECT_EQ(s->RowsAffected(), 1);
  EXPECT_EQ(Count("WHERE Mus_Compositor IS NULL"), 3);
  // An empty text is a value, not null.
  s->Params().ByName("Compositor").SetTextValue("");
  s->ExecQuery();
  EXPECT_EQ(Count("WHERE Mus_Compositor IS NULL"), 2);
  EXPECT_EQ(Count("WHERE Mus_Compositor = ''"), 1);
}

TEST_F(IBSQLTest, TextOfFortySixCharactersIntoFortyFiveRaises119AndExecutesNothing) {
  auto s = Statement(kUpdate);
  s->Params().ByName("Codigo").SetLongValue(1);
  EIBClientError e =
      ClientErrorOf([&] { s->Params().ByName("Compositor").SetTextValue(std::string(46, 'a')); });
  EXPECT_EQ(e.SqlCode, 119);
  EXPECT_EQ(e.ServerErrorCode, 0);
  EXPECT_EQ(e.Message,
            "Trying to store a string of length 46 into a field that can only contain 45");
  EXPECT_EQ(Count("WHERE Mus_Compositor IS NULL"), 2);
}

TEST_F(IBSQLTest, ParameterUsedTwiceReceivesTheValueTwice) {
  auto s =
      Statement("SELECT COUNT(*) FROM Tb_Musicas WHERE Mus_Codigo >= :a1 AND Mus_Codigo <= :a1");
  ASSERT_EQ(s->Params().Count(), 2);
  EXPECT_EQ(s->Params()[1].Name(), "a1");
  s->Params()[0].SetLongValue(2);
  EXPECT_EQ(s->Params()[1].LongValue(), 2);
  s->ExecQuery();
  EXPECT_EQ(s->Fields(0).LongValue(), 1);
}

TEST_F(IBSQLTest, CharIsPaddedVarcharIsNot) {
  auto s = Statement("SELECT C_CHAR, C_VARCHAR FROM Tb_Tipos WHERE ID = 1");
  s->ExecQuery();
  EXPECT_EQ(s->Fields(0).SqlType(), SQL_TEXT);
  EXPECT_EQ(s->Fields(0).TextValue(), "abc       ");
  EXPECT_EQ(s->Fields(0).TrimmedTextValue(), "abc");
  EXPECT_EQ(s->Fields(1).SqlType(), SQL_VARYING);
  EXPECT_EQ(s->Fields(1).TextValue(), "abc");

  // Text written to a CHAR parameter compares with the padded value.
  auto p = Statement("SELECT ID FROM Tb_Tipos WHERE C_CHAR = :c AND C_VARCHAR = :v");
  p->Params().ByName("c").SetTextValue("abc");
  p->Params().ByName("v").SetTextValue("abc");
  p->ExecQuery();
  ASSERT_FALSE(p->Eof());
  EXPECT_EQ(p->Fields(0).LongValue(), 1);
}

TEST_F(IBSQLTest, ColumnTypesReadAsTextAndTypedValues) {
  auto s = Statement(
      "SELECT C_NUM, C_SMALLNUM, C_DOUBLE, C_DATE, C_BOOL, C_BLOB FROM Tb_Tipos WHERE ID = 1");
  s->ExecQuery();
  EXPECT_EQ(s->Fields(0).SqlType(), SQL_LONG);
  EXPECT_EQ(s->Fields(0).Data().SqlScale(), -2);
  EXPECT_EQ(s->Fields(0).Data().SqlPrecision(), 9);
  EXPECT_EQ(s->Fields(0).TextValue(), "123.45");
  EXPECT_EQ(s->Fields(0).CurrencyValue(), 1234500);
  EXPECT_EQ(s->Fields(1).SqlType(), SQL_SHORT);
  EXPECT_EQ(s->Fields(1).TextValue(), "-12.3");
  EXPECT_EQ(s->Fields(2).TextValue(), "0.1");
  EXPECT_EQ(s->Fields(3).SqlType(), SQL_TIMESTAMP);
  EXPECT_EQ(s->Fields(3).TextValue(), "2024-03-07 14:05:09");
  EXPECT_DOUBLE_EQ(s->Fields(3).DateValue(), rt::EncodeDate(2024, 3, 7));
  EXPECT_TRUE(s->Fields(4).BooleanValue());
  EXPECT_EQ(s->Fields(4).TextValue(), "True");
  EXPECT_EQ(s->Fields(5).SqlType(), SQL_BLOB);
  EXPECT_EQ(s->Fields(5).TextValue(), "um texto longo");

  auto n = Statement("SELECT C_NUM, C_DOUBLE, C_DATE, C_BOOL, C_BLOB FROM Tb_Tipos WHERE ID = 2");
  n->ExecQuery();
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(n->Fields(i).IsNull()) << i;
    EXPECT_EQ(n->Fields(i).TextValue(), "") << i;
  }
}

TEST_F(IBSQLTest, TypedParametersReachTheirColumns) {
  auto s = Statement(
      "UPDATE Tb_Tipos SET C_NUM = :n, C_DOUBLE = :d, C_DATE = :t, C_BLOB = :b WHERE ID = 2");
  TIBXSQLDA& p = s->Params();
  p.ByName("n").SetCurrencyValue(-15000);
  p.ByName("d").SetDoubleValue(2.5);
  p.ByName("t").SetTextValue("2001-02-03 04:05:06");
  std::string big(100000, 'b');
  p.ByName("b").SetTextValue(big);
  s->ExecQuery();
  EXPECT_EQ(s->RowsAffected(), 1);

  auto r = Statement("SELECT C_NUM, C_DOUBLE, C_DATE, C_BLOB FROM Tb_Tipos WHERE ID = 2");
  r->ExecQuery();
  EXPECT_EQ(r->Fields(0).TextValue(), "-1.5");
  EXPECT_DOUBLE_EQ(r->Fields(1).DoubleValue(), 2.5);
  EXPECT_EQ(r->Fields(2).TextValue(), "2001-02-03 04:05:06");
  EXPECT_EQ(r->Fields(3).TextValue(), big);
}

TEST_F(IBSQLTest, ServerErrorCarriesMessageLinesAndCodesAndLeavesNoHandle) {
  auto s = Statement("SELECT * FROM Tb_Nada");
  EIBInterBaseError e = ServerErrorOf([&] { s->Prepare(); });
  EXPECT_EQ(e.SqlCode, -204);
  EXPECT_EQ(e.ServerErrorCode, 335544569);
  EXPECT_EQ(
      e.Message.rfind("Dynamic SQL Error\r\nSQL error code = -204\r\nTable unknown\r\nTB_NADA", 0),
      0u)
      << e.Message;
  EXPECT_NE(e.Message.back(), '.');
  EXPECT_FALSE(s->Prepared());
  EXPECT_EQ(s->Handle(), 0u);

  auto insert = Statement("INSERT INTO Tb_Musicas (Mus_Codigo) VALUES (:c)");
  insert->Params()[0].SetLongValue(1);
  EIBInterBaseError dup = ServerErrorOf([&] { insert->ExecQuery(); });
  EXPECT_EQ(dup.SqlCode, -803);
  EXPECT_EQ(dup.ServerErrorCode, 335544665);
  EXPECT_NE(dup.Message.find("violation of PRIMARY or UNIQUE KEY constraint"), std::string::npos)
      << dup.Message;
  // The statement stays prepared and runs with another value.
  EXPECT_TRUE(insert->Prepared());
  insert->Params()[0].SetLongValue(99);
  insert->ExecQuery();
  EXPECT_EQ(insert->RowsAffected(), 1);
}

TEST_F(IBSQLTest, ClientErrorsOfTheStatementLifecycle) {
  TIBSQL orphan;
  orphan.SetSQL({"SELECT 1 FROM RDB$DATABASE"});
  EIBClientError noDatabase = ClientErrorOf([&] { orphan.Prepare(); });
  EXPECT_EQ(noDatabase.SqlCode, 24);
  EXPECT_EQ(noDatabase.Message, "Database not assigned");

  TIBDatabase other;
  TIBSQL noTransaction(&other);
  other.SetDatabaseName(database_->Path());
  other.SetParams(test::DefaultDatabaseParams());
  other.LoginPrompt = false;
  other.Open();
  noTransaction.SetSQL({"SELECT 1 FROM RDB$DATABASE"});
  EXPECT_EQ(ClientErrorOf([&] { noTransaction.Prepare(); }).SqlCode, 25);
  other.Close();

  // Only a text without a single byte is the client's own "Empty query"; blanks (joined with
  // CR LF as every line is) go to the server, whose error is the one raised.
  auto empty = Statement("");
  empty->SetSQL({});
  EIBClientError e = ClientErrorOf([&] { empty->Prepare(); });
  EXPECT_EQ(e.SqlCode, 42);
  EXPECT_EQ(e.Message, "Empty query");
  auto blanks = Statement("   ");
  EIBInterBaseError fromServer = ServerErrorOf([&] { blanks->Prepare(); });
  EXPECT_EQ(fromServer.SqlCode, -104) << fromServer.Message;
  EXPECT_NE(fromServer.ServerErrorCode, 0);
  EXPECT_FALSE(blanks->Prepared());

  auto s = Statement(kSelectSongs);
  s->ExecQuery();
  EIBClientError open = ClientErrorOf([&] { s->ExecQuery(); });
  EXPECT_EQ(open.SqlCode, 31);
  EXPECT_EQ(open.Message, "IBSQL Open");
  EXPECT_EQ(ClientErrorOf([&] { s->Prepare(); }).SqlCode, 31);

  auto setTransaction = Statement("SET TRANSACTION");
  EIBClientError notPermitted = ClientErrorOf([&] { setTransaction->Prepare(); });
  EXPECT_EQ(notPermitted.SqlCode, 5);
  EXPECT_EQ(notPermitted.Message, "Not permitted");
  EXPECT_FALSE(setTransaction->Prepared());
  EXPECT_EQ(setTransaction->Handle(), 0u);

  auto inactive = Statement(kSelectSongs);
  transaction.Rollback();
  EXPECT_EQ(ClientErrorOf([&] { inactive->Prepare(); }).SqlCode, 18);
}

TEST_F(IBSQLTest, OpenCursorFetchesOnAfterCommitRetaining) {
  auto s = Statement(kSelectSongs);
  s->ExecQuery();
  EXPECT_EQ(s->Fields(0).LongValue(), 1);
  transaction.CommitRetaining();
  EXPECT_TRUE(transaction.Active());
  EXPECT_TRUE(s->Open());
  ASSERT_NE(s->FetchNext(), nullptr);
  EXPECT_EQ(s->Fields(0).LongValue(), 2);
  ASSERT_NE(s->FetchNext(), nullptr);
  EXPECT_EQ(s->Fields(0).LongValue(), 3);
  EXPECT_EQ(s->FetchNext(), nullptr);
}

TEST_F(IBSQLTest, CommitClosesOpenCursorsFirst) {
  auto s = Statement(kSelectSongs);
  auto other = Statement("SELECT Mus_Nome FROM Tb_Musicas");
  s->ExecQuery();
  other->ExecQuery();
  transaction.Commit();
  EXPECT_FALSE(s->Open());
  EXPECT_FALSE(other->Open());
  EXPECT_TRUE(s->Prepared());
  EXPECT_EQ(ClientErrorOf([&] { s->FetchNext(); }).SqlCode, 32);
  // The prepared statement runs again in the next transaction.
  transaction.Start();
  s->ExecQuery();
  EXPECT_EQ(s->Fields(0).LongValue(), 1);
}

TEST_F(IBSQLTest, ChangingTheTextReleasesTheHandleAndEqualTextDoesNothing) {
  auto s = Statement(kSelectSongs);
  int changes = 0;
  s->OnSQLChanging = [&] { ++changes; };
  s->Prepare();
  s->SetSQL({kSelectSongs});
  EXPECT_EQ(changes, 0);
  EXPECT_TRUE(s->Prepared());
  s->SetSQL({"SELECT COUNT(*) FROM Tb_Musicas"});
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(s->Prepared());
  EXPECT_EQ(s->Handle(), 0u);
  s->ExecQuery();
  EXPECT_EQ(s->Fields(0).LongValue(), 3);
  // The result area keeps its four entries for the next, wider text.
  EXPECT_EQ(s->Current().Count(), 1);
  EXPECT_EQ(s->Current().Size(), 4);
}

TEST_F(IBSQLTest, ClosingTheDatabaseUnpreparesItsStatements) {
  auto s = Statement(kSelectSongs);
  s->ExecQuery();
  database.Close();
  EXPECT_FALSE(s->Open());
  EXPECT_FALSE(s->Prepared());
  EXPECT_EQ(s->Handle(), 0u);
  database.Open();
  transaction.Start();
  s->ExecQuery();
  EXPECT_EQ(s->Fields(0).LongValue(), 1);
}

TEST_F(IBSQLTest, DescribedParametersWithoutAnActiveTransaction) {
  transaction.Rollback();
  auto s = Statement(kUpdate);
  TIBXSQLDA& params = s->Params();  // starts the transaction for the preparation only
  EXPECT_TRUE(s->Prepared());
  EXPECT_FALSE(transaction.Active());
  EXPECT_EQ(params.Count(), 2);
  EXPECT_EQ(params[1].SqlType(), SQL_LONG);

  // Another transaction makes the statement unprepared.
  TIBTransaction other;
  other.SetDefaultDatabase(&database);
  s->SetTransaction(&other);
  EXPECT_FALSE(s->Prepared());
  EXPECT_EQ(s->Handle(), 0u);
  s->SetTransaction(&transaction);
}

TEST_F(IBSQLTest, DuplicateAliasesGetCounters) {
  auto s = Statement("SELECT 1 AS A, 2 AS A, Mus_Nome FROM Tb_Musicas WHERE Mus_Codigo = 1");
  s->ExecQuery();
  EXPECT_EQ(s->Fields(0).Name(), "A");
  EXPECT_EQ(s->Fields(1).Name(), "A1");
  EXPECT_EQ(s->FieldByName("a1").LongValue(), 2);
  EXPECT_EQ(s->Current().UniqueRelationName(), "TB_MUSICAS");
  auto two = Statement("SELECT m.Mus_Nome, r.RDB$RELATION_ID FROM Tb_Musicas m, RDB$DATABASE r");
  two->Prepare();
  EXPECT_EQ(two->Current().UniqueRelationName(), "");
}

TEST_F(IBSQLTest, PlanAndCursorName) {
  auto s = Statement(kSelectSongs);
  EXPECT_EQ(s->Plan(), "");
  s->Prepare();
  EXPECT_NE(s->Plan().find("TB_MUSICAS"), std::string::npos) << s->Plan();
  EXPECT_EQ(s->Plan().rfind("PLAN", 0), 0u) << s->Plan();
  auto insert = Statement("INSERT INTO Tb_Numeros VALUES (1, 'a')");
  insert->Prepare();
  EXPECT_EQ(insert->Plan(), "");

  EXPECT_TRUE(IsRandomGuidText(s->CursorName())) << s->CursorName();
  EXPECT_NE(s->CursorName(), insert->CursorName());
}

TEST_F(IBSQLTest, GeneratedParameterNames) {
  auto s = Statement("SELECT COUNT(*) FROM Tb_Musicas WHERE Mus_Codigo = ?");
  EXPECT_EQ(ClientErrorOf([&] { s->Prepare(); }).SqlCode, 55);
  s->GenerateParamNames = true;
  s->Params().ByName("IBParam0").SetLongValue(3);
  EXPECT_EQ(s->Params().NormalizedName(0), "IBPARAM0");
  s->ExecQuery();
  EXPECT_EQ(s->Fields(0).LongValue(), 1);
}

TEST_F(IBSQLTest, PrepareAndExecuteAreOfferedToTheTraceHook) {
  std::vector<std::string> entries;
  database.TraceFlags = TraceFlag(tfQPrepare) | TraceFlag(tfQExecute);
  int id = MonitorHook()->AddListener([&](const TTraceEntry& e) { entries.push_back(e.Text); });
  auto s = Statement(kUpdate);
  s->Name = "Q_Atualizar";
  s->Params().ByName("Compositor").SetTextValue("Ana Flor");
  s->Params().ByName("Codigo").SetIsNull(true);
  s->ExecQuery();
  s->ExecQuery();
  MonitorHook()->RemoveListener(id);
  database.TraceFlags = 0;
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_NE(entries[0].find("Q_Atualizar: [Prepare] UPDATE Tb_Musicas SET Mus_Compositor = ?"),
            std::string::npos)
      << entries[0];
  EXPECT_NE(entries[0].find("Plan: PLAN (TB_MUSICAS INDEX"), std::string::npos) << entries[0];
  EXPECT_NE(entries[1].find("Q_Atualizar: [Execute] UPDATE"), std::string::npos) << entries[1];
  EXPECT_NE(entries[1].find("Compositor = Ana Flor\r\n  Codigo = <NULL>"), std::string::npos)
      << entries[1];
}

// Ten thousand inserts and ten thousand updates through two prepared statements; prints the
// time taken (not checked) and checks every row.
TEST_F(IBSQLTest, TenThousandPreparedUpdates) {
  constexpr int kRows = 10000;
  auto insert = Statement("INSERT INTO Tb_Numeros (N, V) VALUES (:N, :V)");
  TIBXSQLDA& ip = insert->Params();
  for (int i = 0; i < kRows; ++i) {
    ip[0].SetLongValue(i);
    ip[1].SetTextValue("inicial");
    insert->ExecQuery();
  }
  auto update = Statement("UPDATE Tb_Numeros SET V = :V WHERE N = :N");
  TIBXSQLDA& up = update->Params();
  up[0].SetTextValue(std::string(45, ' '));
  char* buffer = up[0].Data().SqlData();
  std::vector<std::string> values;
  for (int i = 0; i < kRows; ++i) values.push_back("valor " + std::to_string(i));
  const long allocations = test::AllocationCount();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRows; ++i) {
    up[0].SetTextValue(values[std::size_t(i)]);
    up[1].SetLongValue(i);
    update->ExecQuery();
  }
  // Binding new values and executing the prepared statement allocates nothing.
  EXPECT_EQ(test::AllocationCount() - allocations, 0);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("10000 prepared UPDATEs: %.1f ms (%.1f us each)\n", ms, ms * 1000.0 / kRows);
  RecordProperty("update_ms", std::to_string(ms));
  EXPECT_EQ(up[0].Data().SqlData(), buffer);

  auto check = Statement("SELECT COUNT(*) FROM Tb_Numeros WHERE V = 'valor ' || N");
  check->ExecQuery();
  EXPECT_EQ(check->Fields(0).LongValue(), kRows);
}

}  // namespace
