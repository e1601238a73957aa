// Statements against the embedded engine: prepare, execute and fetch of selects, counts and
// parameterised updates, values of the column types, errors of the server and of the client,
// cursors across the ends of a transaction.
#include "db/IBSQL.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/IBErrors.h"
#include "db/IBSQLMonitor.h"
#include "db/IBTransaction.h"
#include "tests/db/TraceRecorder.h"
#include "tests/support/Failures.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/StoredSongs.h"
#include "tests/support/WindowConnection.h"

namespace {

using test::ErrorOf;

// One row of every column type a dialect-1 database has, and a row of nulls.
constexpr const char* kExtraSql =
    "CREATE TABLE Tb_Tipos (ID INTEGER NOT NULL PRIMARY KEY, C_CHAR CHAR(10), "
    "C_VARCHAR VARCHAR(10), C_NUM NUMERIC(9,2), C_SMALLNUM NUMERIC(4,1), "
    "C_DOUBLE DOUBLE PRECISION, C_DATE DATE, C_BOOL BOOLEAN, C_BLOB BLOB SUB_TYPE 1);\n"
    "INSERT INTO Tb_Tipos VALUES (1, 'abc', 'abc', 123.45, -12.3, 0.1, "
    "'2024-03-07 14:05:09', TRUE, 'um texto longo');\n"
    "INSERT INTO Tb_Tipos (ID) VALUES (2);\n";

const std::string kUpdate =
    "UPDATE Tb_Musicas SET Mus_Compositor = :Compositor WHERE Mus_Codigo = :Codigo";
const std::string kSelectSongs =
    "SELECT Mus_Codigo, Mus_Nome, Mus_Interprete, Mus_Compositor FROM Tb_Musicas "
    "ORDER BY Mus_Codigo";

class IBSQLTest : public test::ConnectedTest {
 protected:
  static void SetUpTestSuite() { SetUpDatabase(kExtraSql); }
  void SetUp() override {
    ConnectedTest::SetUp();
    transaction.Start();
  }

  int Count(const std::string& where = {}) {
    auto s = Statement("SELECT COUNT(*) FROM Tb_Musicas " + where);
    s->ExecQuery();
    return s->Fields(0).LongValue();
  }
  // The composers by song as this transaction sees them; "<null>" for null.
  std::vector<std::string> Composers() {
    std::vector<std::string> composers;
    for (const auto& [codigo, song] : test::ReadStoredSongs(database, transaction))
      composers.push_back(song.Compositor.value_or("<null>"));
    return composers;
  }
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

  test::TraceRecorder trace(database, TraceFlag(tfQFetch));
  const auto fetches = [&] { return trace.Count(tfQFetch, ": [Fetch]"); };
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
  EXPECT_EQ(fetches(), 3);

  EXPECT_EQ(s->FetchNext(), nullptr);
  EXPECT_TRUE(s->Eof());
  EXPECT_EQ(fetches(), 4);  // the fetch that met the end is reported
  EXPECT_EQ(s->FetchNext(), nullptr);
  EXPECT_EQ(fetches(), 4);  // no further server call
  EXPECT_EQ(s->RecordCount(), 3);

  s->Close();
  EXPECT_FALSE(s->Open());
  EXPECT_FALSE(s->Eof());
  EXPECT_EQ(s->RecordCount(), 0);
  EXPECT_TRUE(s->Prepared());
  const EIBClientError closed = ErrorOf<EIBClientError>([&] { s->FetchNext(); });
  EXPECT_EQ(closed.SqlCode, 32);
  EXPECT_EQ(closed.Message, "IBSQL Closed");
}

TEST_F(IBSQLTest, CountReadsAsInteger) {
  auto s = Statement("SELECT COUNT(*) FROM Tb_Musicas");
  s->ExecQuery();
  ASSERT_EQ(s->Current().Count(), 1);
  EXPECT_EQ(s->Fields(0).LongValue(), 3);
  EXPECT_EQ(s->Fields(0).TextValue(), "3");
  const EIBClientError e = ErrorOf<EIBClientError>([&] { s->Fields(1); });
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
  EXPECT_EQ(Composers(), composers);
}

TEST_F(IBSQLTest, NullParameterStoresNullAndTooLongTextIsRefused) {
  auto s = Statement(kUpdate);
  s->Params().ByName("Codigo").SetLongValue(3);
  // 46 characters into the 45 of the column: refused by the client before anything runs.
  const EIBClientError e = ErrorOf<EIBClientError>(
      [&] { s->Params().ByName("Compositor").SetTextValue(std::string(46, 'a')); });
  EXPECT_EQ(e.SqlCode, 119);
  EXPECT_EQ(e.ServerErrorCode, 0);
  EXPECT_EQ(e.Message,
            "Trying to store a string of length 46 into a field that can only contain 45");
  EXPECT_EQ(Count("WHERE Mus_Compositor IS NULL"), 2);

  s->Params().ByName("Compositor").SetIsNull(true);
  s->ExecQuery();
  EXPECT_EQ(s->RowsAffected(), 1);
  EXPECT_EQ(Count("WHERE Mus_Compositor IS NULL"), 3);
  // An empty text is a value, not null.
  s->Params().ByName("Compositor").SetTextValue("");
  s->ExecQuery();
  EXPECT_EQ(Count("WHERE Mus_Compositor IS NULL"), 2);
  EXPECT_EQ(Count("WHERE Mus_Compositor = ''"), 1);
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
  EXPECT_EQ(s->Fields(0).CurrencyValue(), 1234500);
  EXPECT_EQ(s->Fields(1).SqlType(), SQL_SHORT);
  EXPECT_EQ(s->Fields(3).SqlType(), SQL_TIMESTAMP);
  EXPECT_DOUBLE_EQ(s->Fields(3).DateValue(), rt::EncodeDate(2024, 3, 7));
  EXPECT_TRUE(s->Fields(4).BooleanValue());
  EXPECT_EQ(s->Fields(5).SqlType(), SQL_BLOB);
  const std::vector<std::string> texts = {"123.45", "-12.3",         "0.1", "2024-03-07 14:05:09",
                                          "True",   "um texto longo"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(s->Fields(i).TextValue(), texts[std::size_t(i)]) << i;

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
  const std::string big(100000, 'b');
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
  const EIBInterBaseError e = ErrorOf<EIBInterBaseError>([&] { s->Prepare(); });
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
  const EIBInterBaseError dup = ErrorOf<EIBInterBaseError>([&] { insert->ExecQuery(); });
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
  const EIBClientError noDatabase = ErrorOf<EIBClientError>([&] { orphan.Prepare(); });
  EXPECT_EQ(noDatabase.SqlCode, 24);
  EXPECT_EQ(noDatabase.Message, "Database not assigned");

  TIBDatabase other;
  TIBSQL noTransaction(&other);
  test::SetUpLikeTheWindow(other, Database().Path());
  other.Open();
  noTransaction.SetSQL({"SELECT 1 FROM RDB$DATABASE"});
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { noTransaction.Prepare(); }).SqlCode, 25);
  other.Close();

  // Only a text without a single byte is the client's own "Empty query"; blanks (joined with
  // CR LF as every line is) go to the server, whose error is the one raised.
  auto empty = Statement("");
  const EIBClientError e = ErrorOf<EIBClientError>([&] { empty->Prepare(); });
  EXPECT_EQ(e.SqlCode, 42);
  EXPECT_EQ(e.Message, "Empty query");
  auto blanks = Statement("   ");
  const EIBInterBaseError fromServer = ErrorOf<EIBInterBaseError>([&] { blanks->Prepare(); });
  EXPECT_EQ(fromServer.SqlCode, -104) << fromServer.Message;
  EXPECT_NE(fromServer.ServerErrorCode, 0);
  EXPECT_FALSE(blanks->Prepared());

  auto s = Statement(kSelectSongs);
  s->ExecQuery();
  const EIBClientError open = ErrorOf<EIBClientError>([&] { s->ExecQuery(); });
  EXPECT_EQ(open.SqlCode, 31);
  EXPECT_EQ(open.Message, "IBSQL Open");
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { s->Prepare(); }).SqlCode, 31);

  auto setTransaction = Statement("SET TRANSACTION");
  const EIBClientError notPermitted = ErrorOf<EIBClientError>([&] { setTransaction->Prepare(); });
  EXPECT_EQ(notPermitted.SqlCode, 5);
  EXPECT_EQ(notPermitted.Message, "Not permitted");
  EXPECT_FALSE(setTransaction->Prepared());
  EXPECT_EQ(setTransaction->Handle(), 0u);

  auto inactive = Statement(kSelectSongs);
  transaction.Rollback();
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { inactive->Prepare(); }).SqlCode, 18);
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
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { s->FetchNext(); }).SqlCode, 32);
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
  auto insert = Statement("INSERT INTO Tb_Tipos (ID) VALUES (3)");
  insert->Prepare();
  EXPECT_EQ(insert->Plan(), "");

  // A random GUID in upper-case hexadecimal: version 4, variant 8 to B.
  EXPECT_THAT(s->CursorName(),
              testing::MatchesRegex(
                  "\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}"));
  EXPECT_NE(s->CursorName(), insert->CursorName());
}

TEST_F(IBSQLTest, GeneratedParameterNames) {
  auto s = Statement("SELECT COUNT(*) FROM Tb_Musicas WHERE Mus_Codigo = ?");
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { s->Prepare(); }).SqlCode, 55);
  s->GenerateParamNames = true;
  s->Params().ByName("IBParam0").SetLongValue(3);
  EXPECT_EQ(s->Params().NormalizedName(0), "IBPARAM0");
  s->ExecQuery();
  EXPECT_EQ(s->Fields(0).LongValue(), 1);
}

TEST_F(IBSQLTest, PrepareAndExecuteAreOfferedToTheTraceHook) {
  test::TraceRecorder trace(database, TraceFlag(tfQPrepare) | TraceFlag(tfQExecute));
  auto s = Statement(kUpdate);
  s->Name = "Q_Atualizar";
  s->Params().ByName("Compositor").SetTextValue("Ana Flor");
  s->Params().ByName("Codigo").SetIsNull(true);
  s->ExecQuery();
  s->ExecQuery();
  const std::vector<TTraceEntry>& entries = trace.entries;
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_NE(entries[0].Text.find("Q_Atualizar: [Prepare] UPDATE Tb_Musicas SET Mus_Compositor = ?"),
            std::string::npos)
      << entries[0].Text;
  EXPECT_NE(entries[0].Text.find("Plan: PLAN (TB_MUSICAS INDEX"), std::string::npos)
      << entries[0].Text;
  EXPECT_NE(entries[1].Text.find("Q_Atualizar: [Execute] UPDATE"), std::string::npos)
      << entries[1].Text;
  EXPECT_NE(entries[1].Text.find("Compositor = Ana Flor\r\n  Codigo = <NULL>"), std::string::npos)
      << entries[1].Text;
}

}  // namespace
