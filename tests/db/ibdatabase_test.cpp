// Attachment, transactions and their parameter blocks, against the embedded Firebird engine.
#include "db/IBDatabase.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "db/IBErrors.h"
#include "db/IBParameterBlocks.h"
#include "db/IBSQLMonitor.h"
#include "db/IBTransaction.h"
#include "runtime/Exception.h"
#include "tests/support/Failures.h"
#include "tests/support/FirebirdFixture.h"

namespace {

using Bytes = std::vector<int>;

Bytes ToBytes(const std::string& block) {
  Bytes out;
  for (char c : block) out.push_back(static_cast<unsigned char>(c));
  return out;
}

Bytes Concat(std::initializer_list<int> head, const std::string& text) {
  Bytes out(head);
  for (char c : text) out.push_back(static_cast<unsigned char>(c));
  return out;
}

template <class F>
EIBClientError ClientErrorOf(F call) {
  return test::FailureOf<EIBClientError>(call, "");
}

// ---------------------------------------------------------------------------------------------
// Database parameter block

TEST(DatabaseParameterBlock, MainWindowParameters) {
  const std::string dpb = db::BuildDPB({"user_name=SYSDBA", "password=velkadrum"});
  Bytes expected{1, 28, 6};
  for (char c : std::string("SYSDBA")) expected.push_back(c);
  expected.push_back(29);
  expected.push_back(9);
  for (char c : std::string("velkadrum")) expected.push_back(c);
  EXPECT_EQ(ToBytes(dpb), expected);
  EXPECT_EQ(dpb.size(), 20u);
}

TEST(DatabaseParameterBlock, NamesIgnoreCaseAndThePrefixButNotBlanks) {
  EXPECT_EQ(ToBytes(db::BuildDPB({"USER_NAME=SYSDBA"})), Concat({1, 28, 6}, "SYSDBA"));
  EXPECT_EQ(ToBytes(db::BuildDPB({"isc_dpb_user_name=SYSDBA"})), Concat({1, 28, 6}, "SYSDBA"));
  EXPECT_EQ(ToBytes(db::BuildDPB({"ISC_DPB_Password= x "})), Concat({1, 29, 3}, " x "));
  const EIBClientError e = ClientErrorOf([] { db::BuildDPB({" USER_NAME=SYSDBA"}); });
  EXPECT_EQ(e.SqlCode, 114);
  EXPECT_EQ(e.Message, "DPB Constant ( USER_NAME) is unknown");
}

TEST(DatabaseParameterBlock, EachValueLayout) {
  // A line without "=" has no name and is skipped; sweep ignores its value.
  EXPECT_EQ(ToBytes(db::BuildDPB({"sweep"})), Bytes{1});
  EXPECT_EQ(ToBytes(db::BuildDPB({"", "   =x", "sweep=x"})), (Bytes{1, 10, 1, 2}));
  EXPECT_EQ(ToBytes(db::BuildDPB({"sql_dialect=3"})), (Bytes{1, 63, 1, 3}));
  EXPECT_EQ(ToBytes(db::BuildDPB({"num_buffers=300"})), (Bytes{1, 5, 1, 300 & 0xFF}));
  EXPECT_EQ(ToBytes(db::BuildDPB({"force_write=1"})), (Bytes{1, 24, 1, 1}));
  EXPECT_EQ(ToBytes(db::BuildDPB({"activate_shadow=9", "begin_log"})), (Bytes{1, 21, 1, 0}));
  EXPECT_EQ(ToBytes(db::BuildDPB({"sweep_interval=20000"})),
            (Bytes{1, 22, 4, 20000 & 0xFF, 20000 >> 8, 0, 0}));
  EXPECT_EQ(ToBytes(db::BuildDPB({"lc_ctype=WIN1252", "sql_role_name=R"})),
            (Bytes{1, 48, 7, 'W', 'I', 'N', '1', '2', '5', '2', 60, 1, 'R'}));
}

TEST(DatabaseParameterBlock, RefusedLines) {
  EIBClientError e = ClientErrorOf([] { db::BuildDPB({"page_size=4096"}); });
  EXPECT_EQ(e.SqlCode, 11);
  EXPECT_EQ(e.Message, "DPB Constant (isc_dpb_page_size) is unsupported");
  e = ClientErrorOf([] { db::BuildDPB({"isc_dpb_no_garbage_collect=1"}); });
  EXPECT_EQ(e.Message, "DPB Constant (isc_dpb_no_garbage_collect) is unsupported");
  e = ClientErrorOf([] { db::BuildDPB({"User=SYSDBA"}); });
  EXPECT_EQ(e.Message, "DPB Constant (User) is unknown");
  try {
    db::BuildDPB({"num_buffers=many"});
    FAIL() << "no conversion error";
  } catch (const EConvertError& c) {
    EXPECT_EQ(c.Message, "'many' is not a valid integer value");
  }
}

TEST(DatabaseParameterBlock, ValuesThatCannotBeEncodedAreRefusedNotCorrupted) {
  // A 256-byte value does not fit the clump's length byte: it would spill into further clumps.
  const EIBClientError e =
      ClientErrorOf([] { db::BuildDPB({"password=" + std::string(256, 'p')}); });
  EXPECT_EQ(e.SqlCode, 11);
  EXPECT_EQ(ToBytes(db::BuildDPB({"password=" + std::string(255, 'p')})).size(), 258u);
  // An empty dialect value gives an empty clump instead of touching a missing first character.
  EXPECT_EQ(ToBytes(db::BuildDPB({"sql_dialect="})), (Bytes{1, 63, 0}));
}

// ---------------------------------------------------------------------------------------------
// Transaction parameter block

TEST(TransactionParameterBlock, MainWindowTransaction) {
  EXPECT_EQ(ToBytes(db::BuildTPB({"read_committed", "rec_version", "nowait"})),
            (Bytes{3, 15, 17, 7}));
  EXPECT_EQ(ToBytes(db::BuildTPB({"read_committed", "  ", "rec_version", "nowait"})),
            (Bytes{3, 15, 17, 7}));
  EXPECT_TRUE(db::BuildTPB({}).empty());
}

TEST(TransactionParameterBlock, PrefixesTablesAndRefusals) {
  EXPECT_EQ(ToBytes(db::BuildTPB({"isc_tpb_wait", "Concurrency", "write=ignored"})),
            (Bytes{3, 6, 2, 9}));
  EXPECT_EQ(ToBytes(db::BuildTPB({"lock_write=TB_MUSICAS"})), Concat({3, 11, 10}, "TB_MUSICAS"));
  EXPECT_EQ(ToBytes(db::BuildTPB({"lock_read"})), (Bytes{3, 10, 0}));
  EIBClientError e = ClientErrorOf([] { db::BuildTPB({"autocommit"}); });
  EXPECT_EQ(e.SqlCode, 13);
  EXPECT_EQ(e.Message, "TPB Constant (isc_tpb_autocommit) is unsupported");
  e = ClientErrorOf([] { db::BuildTPB({"read_commited"}); });
  EXPECT_EQ(e.SqlCode, 115);
  EXPECT_EQ(e.Message, "TPB Constant (read_commited) is unknown");
  e = ClientErrorOf([] { db::BuildTPB({"Snapshot=yes"}); });
  EXPECT_EQ(e.Message, "TPB Constant (Snapshot) is unknown");
  e = ClientErrorOf([] { db::BuildTPB({"lock_write=" + std::string(256, 'T')}); });
  EXPECT_EQ(e.Message, "TPB Constant (isc_tpb_lock_write) is unsupported");
}

// ---------------------------------------------------------------------------------------------
// Helpers over the raw client API, so the checks do not depend on the statement unit.

ISC_STATUS Exec(TIBDatabase& database, TIBTransaction& transaction, const std::string& sql) {
  return database.GDSLibrary().isc_dsql_execute_immediate(
      db::StatusVector(), database.HandleAddress(), transaction.HandleAddress(), 0, sql.c_str(), 1,
      nullptr);
}

// The first column of a one-row SELECT, read as a 64-bit integer.
int64_t QueryInt(TIBDatabase& database, TIBTransaction& transaction, const std::string& sql) {
  IGDSLibrary& lib = database.GDSLibrary();
  ISC_STATUS* status = db::StatusVector();
  isc_stmt_handle statement = 0;
  if (lib.isc_dsql_alloc_statement2(status, database.HandleAddress(), &statement) > 0)
    db::RaiseServerError();
  std::vector<char> area(XSQLDA_LENGTH(1), 0);
  auto* out = reinterpret_cast<XSQLDA*>(area.data());
  out->version = SQLDA_VERSION1;
  out->sqln = 1;
  int64_t value = -1;
  short indicator = 0;
  if (lib.isc_dsql_prepare(status, transaction.HandleAddress(), &statement, 0, sql.c_str(), 1,
                           out) > 0)
    db::RaiseServerError();
  out->sqlvar[0].sqltype = SQL_INT64 + 1;
  out->sqlvar[0].sqlscale = 0;
  out->sqlvar[0].sqllen = sizeof value;
  out->sqlvar[0].sqldata = reinterpret_cast<ISC_SCHAR*>(&value);
  out->sqlvar[0].sqlind = &indicator;
  if (lib.isc_dsql_execute2(status, transaction.HandleAddress(), &statement, 1, nullptr, out) > 0)
    db::RaiseServerError();
  lib.isc_dsql_free_statement(status, &statement, DSQL_drop);
  return indicator < 0 ? -1 : value;
}

// A statement or dataset stand-in that records the notifications of its link.
class Recorder : public TIBBaseOwner {
 public:
  explicit Recorder(bool dataSet = false) : dataSet_(dataSet) {
    base.OnDatabaseClosing = [this] { events.push_back("database closing"); };
    base.OnDatabaseClosed = [this] { events.push_back("database closed"); };
    base.OnDatabaseFreed = [this] { events.push_back("database freed"); };
    base.OnTransactionEnding = [this] { events.push_back("transaction ending"); };
    base.OnTransactionEnded = [this] { events.push_back("transaction ended"); };
    base.OnTransactionFreed = [this] { events.push_back("transaction freed"); };
  }
  void SetDatabase(TIBDatabase* value) override { base.SetDatabase(value); }
  bool IsDataSet() const override { return dataSet_; }
  bool IsOpenDataSet() const override { return dataSet_ && open; }
  void ConnectChange(bool connecting) override {
    events.push_back(connecting ? "connect change on" : "connect change off");
  }

  TIBBase base{this};
  std::vector<std::string> events;
  bool open = false;

 private:
  bool dataSet_;
};

// The main window's connection: dialect 1, no login prompt, the window's parameters.
void SetUpLikeTheWindow(TIBDatabase& database, const std::string& path) {
  database.SetDatabaseName(path);
  database.SetParams(test::DefaultDatabaseParams());
  database.LoginPrompt = false;
  database.SetSQLDialect(1);
}

void SetUpLikeTheWindow(TIBTransaction& transaction, TIBDatabase& database) {
  transaction.SetParams({"read_committed", "rec_version", "nowait"});
  transaction.SetDefaultDatabase(&database);
}

// ---------------------------------------------------------------------------------------------
// Attachment

class Attachment : public test::FirebirdTest {};

TEST_F(Attachment, ConnectsWithTheWindowsParametersAndReadsTheDialect) {
  TIBDatabase database("DB_Kavro");
  SetUpLikeTheWindow(database, Database().Path());
  std::vector<std::string> events;
  database.BeforeConnect = [&] { events.push_back("before connect"); };
  database.AfterConnect = [&] { events.push_back("after connect"); };
  database.BeforeDisconnect = [&] { events.push_back("before disconnect"); };
  database.AfterDisconnect = [&] { events.push_back("after disconnect"); };
  database.OnDialectDowngradeWarning = [&] { events.push_back("downgrade"); };

  database.SetConnected(true);
  ASSERT_TRUE(database.Connected());
  EXPECT_NE(database.Handle(), 0u);
  EXPECT_EQ(database.DPB(), db::BuildDPB(test::DefaultDatabaseParams()));
  EXPECT_EQ(database.DBSQLDialect(), 1);
  EXPECT_EQ(database.SQLDialect(), 1);
  database.SetConnected(true);  // equal value: nothing happens
  database.SetConnected(false);
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(database.Handle(), 0u);
  database.SetConnected(false);
  EXPECT_EQ(events, (std::vector<std::string>{"before connect", "after connect",
                                              "before disconnect", "after disconnect"}));
}

TEST_F(Attachment, DialectDowngradeAndDialectChecks) {
  TIBDatabase database;
  database.SetDatabaseName(Database().Path());
  database.SetParams(test::DefaultDatabaseParams());
  database.LoginPrompt = false;
  EXPECT_EQ(database.SQLDialect(), 3);
  EXPECT_EQ(database.DBSQLDialect(), 3);
  int warnings = 0;
  database.OnDialectDowngradeWarning = [&] { ++warnings; };
  database.Open();
  EXPECT_EQ(database.SQLDialect(), 1);
  EXPECT_EQ(database.DBSQLDialect(), 1);
  EXPECT_EQ(warnings, 1);

  EIBClientError e = ClientErrorOf([&] { database.SetSQLDialect(3); });
  EXPECT_EQ(e.SqlCode, 87);
  EXPECT_EQ(e.Message, "SQL Dialect Invalid");
  EXPECT_EQ(database.SQLDialect(), 1);
  e = ClientErrorOf([&] { database.SetSQLDialect(0); });
  EXPECT_EQ(e.Message, "SQL Dialect Invalid");
  database.Close();
  EXPECT_EQ(database.DBSQLDialect(), 1);
  database.SetSQLDialect(3);  // closed: any dialect from 1 up
  EXPECT_EQ(database.SQLDialect(), 3);
}

TEST_F(Attachment, ClosedAndOpenStateChecks) {
  TIBDatabase database;
  database.LoginPrompt = false;
  EIBClientError e = ClientErrorOf([&] { database.Open(); });
  EXPECT_EQ(e.SqlCode, 17);
  EXPECT_EQ(e.Message, "Database name is missing");
  e = ClientErrorOf([&] { database.RequireOpen(); });
  EXPECT_EQ(e.Message, "Cannot perform operation -- DB is not open");
  EXPECT_EQ(ClientErrorOf([&] { database.SetIdleTimer(-1); }).Message,
            "Timeout values cannot be negative");

  SetUpLikeTheWindow(database, Database().Path());
  database.Open();
  e = ClientErrorOf([&] { database.AddParam("lc_ctype=WIN1252"); });
  EXPECT_EQ(e.SqlCode, 16);
  EXPECT_EQ(e.Message, "Cannot perform operation -- DB is currently open");
  EXPECT_EQ(database.Params(), test::DefaultDatabaseParams());
  EXPECT_EQ(ClientErrorOf([&] { database.SetDatabaseName("/elsewhere.fdb"); }).SqlCode, 16);
  database.SetDatabaseName(Database().Path());  // the same name: nothing to refuse
  EXPECT_EQ(database.DatabaseName(), Database().Path());
}

TEST_F(Attachment, ServerErrorOfAFailedAttach) {
  TIBDatabase database;
  SetUpLikeTheWindow(database, Database().Folder() + "/missing.fdb");
  try {
    database.Open();
    FAIL() << "attached to a missing file";
  } catch (const EIBInterBaseError& e) {
    EXPECT_EQ(e.SqlCode, -902);
    EXPECT_EQ(e.ServerErrorCode, 335544344);  // I/O error
    EXPECT_EQ(e.Message.rfind("I/O error during \"open\" operation for file \"", 0), 0u)
        << e.Message;
    EXPECT_NE(e.Message.find("missing.fdb\"\r\nError while trying to open file\r\n"),
              std::string::npos)
        << e.Message;
    EXPECT_NE(e.Message.back(), '.');
    EXPECT_EQ(e.Message.find("\n\n"), std::string::npos);
  }
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(database.Handle(), 0u);

  // With the SQL code among the message parts, the message starts with it.
  db::SetErrorMessageParts(db::kShowSQLCode | db::kShowServerMessage | db::kShowSQLMessage);
  try {
    database.Open();
    FAIL() << "attached to a missing file";
  } catch (const EIBInterBaseError& e) {
    EXPECT_EQ(e.Message.rfind("SQLCODE: -902\r\nI/O error during", 0), 0u) << e.Message;
  }
  db::SetErrorMessageParts(db::kShowSQLCode);
  try {
    database.Open();
  } catch (const EIBInterBaseError& e) {
    EXPECT_EQ(e.Message, "SQLCODE: -902");
  }
  db::SetErrorMessageParts(db::kShowServerMessage | db::kShowSQLMessage);
}

TEST_F(Attachment, LoginPromptWithoutAndWithALoginHandler) {
  TIBDatabase database("DB_Kavro");
  database.SetDatabaseName(Database().Path());
  database.SetParams({"user_name=SYSDBA", "password=velkadrum"});
  try {
    database.Open();
    FAIL() << "attached without a login";
  } catch (const EIBError& e) {
    EXPECT_EQ(e.Message,
              "Can not find default login prompt dialog.  Please add DBLogDlg to the uses section "
              "of your main file.");
    EXPECT_EQ(e.SqlCode, 0);
    EXPECT_EQ(e.ServerErrorCode, 0);
  }
  EXPECT_FALSE(database.Connected());

  int logins = 0;
  database.OnLogin = [&](TIBDatabase& which, std::vector<std::string>& params) {
    EXPECT_EQ(&which, &database);
    ++logins;
    params = {"user_name=SYSDBA", "Password=secret"};
  };
  database.Open();
  EXPECT_TRUE(database.Connected());
  EXPECT_EQ(logins, 1);
  // The password left the parameter lines and went to the end of the block.
  EXPECT_EQ(database.Params(), std::vector<std::string>{"user_name=SYSDBA"});
  EXPECT_EQ(ToBytes(database.DPB()),
            ToBytes(db::BuildDPB({"user_name=SYSDBA", "password=secret"})));
  database.Close();
}

TEST_F(Attachment, StoredConnectFailsSilentlyAndIsRetriedOnUse) {
  TIBDatabase database;
  SetUpLikeTheWindow(database, Database().Folder() + "/missing.fdb");
  database.BeginLoading();
  database.SetConnected(true);
  EXPECT_FALSE(database.Connected());
  EXPECT_NO_THROW(database.Loaded());
  EXPECT_FALSE(database.Connected());
  // The stored flag stays: the next use tries again, and still fails with error 15.
  EXPECT_EQ(ClientErrorOf([&] { database.RequireOpen(); }).SqlCode, 15);

  database.SetDatabaseName(Database().Path());
  database.RequireOpen();
  EXPECT_TRUE(database.Connected());
  database.Close();

  // A stored connect with a transaction stored as active starts both.
  TIBDatabase stored;
  TIBTransaction transaction;
  SetUpLikeTheWindow(stored, Database().Path());
  SetUpLikeTheWindow(transaction, stored);
  stored.BeginLoading();
  transaction.BeginLoading();
  stored.SetConnected(true);
  transaction.SetActive(true);
  transaction.Loaded();
  EXPECT_FALSE(transaction.Active());
  stored.Loaded();
  EXPECT_TRUE(stored.Connected());
  EXPECT_TRUE(transaction.Active());
  stored.Close();
  EXPECT_FALSE(transaction.Active());

  // AllowStreamedConnected false ignores the stored state.
  TIBDatabase ignored;
  SetUpLikeTheWindow(ignored, Database().Path());
  ignored.AllowStreamedConnected = false;
  ignored.BeginLoading();
  ignored.SetConnected(true);
  ignored.Loaded();
  EXPECT_FALSE(ignored.Connected());
}

class Fixture : public test::FirebirdTest {};

TEST_F(Fixture, HoldsTheSongsByteForByteInADialect1Database) {
  TIBDatabase database;
  TIBTransaction transaction;
  SetUpLikeTheWindow(database, Database().Path());
  SetUpLikeTheWindow(transaction, database);
  database.Open();
  EXPECT_EQ(database.DBSQLDialect(), 1);
  transaction.Start();
  EXPECT_EQ(QueryInt(database, transaction, "SELECT COUNT(*) FROM Tb_Musicas"), 3);
  for (const test::Song& song : test::DefaultSongs()) {
    const std::string where = " FROM Tb_Musicas WHERE Mus_Codigo = " + std::to_string(song.Codigo);
    EXPECT_EQ(QueryInt(database, transaction, "SELECT OCTET_LENGTH(Mus_Nome)" + where),
              static_cast<int64_t>(song.Nome.size()));
    EXPECT_EQ(QueryInt(database, transaction,
                       "SELECT COUNT(*)" + where + " AND Mus_Nome = '" + song.Nome +
                           "' AND Mus_Interprete = '" + song.Interprete + "'"),
              1)
        << song.Nome;
    EXPECT_EQ(QueryInt(database, transaction, "SELECT OCTET_LENGTH(Mus_Compositor)" + where),
              song.Compositor ? static_cast<int64_t>(song.Compositor->size()) : -1);
  }
  transaction.Commit();
  database.Close();
}

// ---------------------------------------------------------------------------------------------
// Links and lists

class Links : public test::FirebirdTest {};

TEST_F(Links, ABaseTakesTheDefaultTransactionAndSlotsAreReused) {
  TIBDatabase database;
  TIBTransaction transaction;
  SetUpLikeTheWindow(database, Database().Path());
  SetUpLikeTheWindow(transaction, database);
  EXPECT_EQ(database.FindDefaultTransaction(), &transaction);
  EXPECT_NE(database.InternalTransaction(), nullptr);
  EXPECT_EQ(database.InternalTransaction()->DefaultDatabase(), &database);

  Recorder a, b, c;
  a.base.SetDatabase(&database);
  EXPECT_EQ(a.base.Transaction(), &transaction);
  b.base.SetTransaction(&transaction);
  EXPECT_EQ(b.base.Database(), &database);
  c.base.SetDatabase(&database);
  EXPECT_EQ(database.SQLObjectCount(), 3);
  b.base.SetDatabase(nullptr);
  EXPECT_EQ(database.SQLObjects(1), nullptr);
  Recorder d;
  d.base.SetDatabase(&database);  // takes the empty slot 1
  EXPECT_EQ(database.SQLObjects(1), &d.base);
  EXPECT_EQ(database.SQLObjectCount(), 3);

  Recorder lone;
  EXPECT_EQ(ClientErrorOf([&] { lone.base.RequireDatabase(); }).Message, "Database not assigned");
  EXPECT_EQ(ClientErrorOf([&] { lone.base.RequireTransaction(); }).Message,
            "Transaction not assigned");
  EXPECT_EQ(ClientErrorOf([&] { a.base.DBHandle(); }).SqlCode, 15);
  EXPECT_EQ(ClientErrorOf([&] { a.base.TRHandle(); }).Message, "Transaction is not active");
  database.Open();
  transaction.Start();
  EXPECT_EQ(a.base.DBHandle(), database.HandleAddress());
  EXPECT_EQ(a.base.TRHandle(), transaction.HandleAddress());
  transaction.Commit();
  database.Close();
}

TEST_F(Links, DestroyingEitherSideLeavesNoDanglingLinks) {
  Recorder statement;
  auto transaction = std::make_unique<TIBTransaction>();
  {
    TIBDatabase database;
    SetUpLikeTheWindow(database, Database().Path());
    SetUpLikeTheWindow(*transaction, database);
    database.SetDefaultTransaction(transaction.get());
    statement.base.SetDatabase(&database);
    EXPECT_EQ(statement.base.Transaction(), transaction.get());
    database.Open();
    transaction->Start();
  }
  // The database's end committed the transaction, notified the link and dropped it.
  EXPECT_FALSE(transaction->Active());
  EXPECT_EQ(statement.base.Database(), nullptr);
  EXPECT_EQ(transaction->DefaultDatabase(), nullptr);
  EXPECT_EQ(transaction->DatabaseCount() > 0 ? transaction->Databases(0) : nullptr, nullptr);
  EXPECT_EQ(statement.events,
            (std::vector<std::string>{"database closing", "transaction ending", "transaction ended",
                                      "database closed", "database freed"}));
  transaction.reset();
  EXPECT_EQ(statement.base.Transaction(), nullptr);
  EXPECT_EQ(statement.events.back(), "transaction freed");
}

TEST_F(Links, DefaultTransactionAndDefaultDatabaseBookkeeping) {
  TIBDatabase database;
  TIBTransaction first, second;
  database.SetDefaultTransaction(&first);
  EXPECT_EQ(first.FindDatabase(&database), 0);
  EXPECT_GE(database.FindTransaction(&first), 0);
  EXPECT_EQ(database.AddTransaction(&first), -1);
  // A previous default whose default database is another leaves the list.
  database.SetDefaultTransaction(&second);
  EXPECT_EQ(database.FindTransaction(&first), -1);
  EXPECT_EQ(first.FindDatabase(&database), -1);
  EXPECT_EQ(database.FindDefaultTransaction(), &second);

  // A statement without a database gets the transaction's new default database.
  TIBTransaction third;
  Recorder statement;
  statement.base.SetTransaction(&third);
  EXPECT_EQ(statement.base.Database(), nullptr);
  third.SetDefaultDatabase(&database);
  EXPECT_EQ(statement.base.Database(), &database);

  database.SetDefaultTransaction(nullptr);
  // Without a default, the first listed transaction whose default database is this one.
  EXPECT_EQ(database.FindDefaultTransaction(), &third);
}

// ---------------------------------------------------------------------------------------------
// Transactions

class Transactions : public test::FirebirdTest {
 protected:
  void SetUp() override {
    SetUpLikeTheWindow(database, Database().Path());
    SetUpLikeTheWindow(transaction, database);
    database.Open();
    // A second attachment sees only what is committed.
    SetUpLikeTheWindow(observerDatabase, Database().Path());
    observer.SetParams({"read_committed", "rec_version", "nowait"});
    observer.SetDefaultDatabase(&observerDatabase);
    observerDatabase.Open();
    observer.Start();
  }
  void TearDown() override {
    if (transaction.Active()) transaction.Rollback();
    // Put the song back for the next test.
    TIBTransaction reset;
    reset.SetDefaultDatabase(&database);
    reset.Start();
    Exec(database, reset, "UPDATE Tb_Musicas SET Mus_Compositor = NULL WHERE Mus_Codigo = 1");
    reset.Commit();
  }

  int64_t CommittedMarks() {
    return QueryInt(observerDatabase, observer,
                    "SELECT COUNT(*) FROM Tb_Musicas WHERE Mus_Compositor = 'Mark'");
  }

  TIBDatabase database{"DB_Kavro"};
  TIBTransaction transaction{"Trans_Kavro"};
  TIBDatabase observerDatabase;
  TIBTransaction observer;
};

constexpr const char* kMark = "UPDATE Tb_Musicas SET Mus_Compositor = 'Mark' WHERE Mus_Codigo = 1";

TEST_F(Transactions, StartBuildsTheTPBAndRefusesTwice) {
  transaction.Start();
  EXPECT_TRUE(transaction.Active());
  EXPECT_EQ(ToBytes(transaction.TPB()), (Bytes{3, 15, 17, 7}));
  EXPECT_EQ(ClientErrorOf([&] { transaction.Start(); }).Message, "Transaction is active");
  EXPECT_EQ(ClientErrorOf([&] { transaction.AddParam("wait"); }).SqlCode, 19);
  transaction.Commit();
  EXPECT_FALSE(transaction.Active());
  EXPECT_EQ(transaction.Handle(), 0u);
  EXPECT_EQ(ClientErrorOf([&] { transaction.CommitRetaining(); }).Message,
            "Transaction is not active");
  EXPECT_EQ(ClientErrorOf([&] { transaction.Rollback(); }).SqlCode, 18);

  TIBTransaction lonely;
  EXPECT_EQ(ClientErrorOf([&] { lonely.Start(); }).Message,
            "No databases are listed in transaction component");
  TIBDatabase closed;
  lonely.SetDefaultDatabase(&closed);
  EXPECT_EQ(ClientErrorOf([&] { lonely.Start(); }).SqlCode, 15);
  // A refused TPB line stops the start with the handle still 0.
  lonely.SetDefaultDatabase(&database);
  lonely.SetParams({"autocommit"});
  EXPECT_EQ(ClientErrorOf([&] { lonely.Start(); }).SqlCode, 13);
  EXPECT_FALSE(lonely.Active());
}

TEST_F(Transactions, CommitMakesChangesVisibleAndNotifiesItsStatements) {
  Recorder statement;
  statement.base.SetTransaction(&transaction);
  transaction.Start();
  ASSERT_EQ(Exec(database, transaction, kMark), 0);
  EXPECT_EQ(CommittedMarks(), 0);
  transaction.Commit();
  EXPECT_EQ(CommittedMarks(), 1);
  EXPECT_EQ(statement.events,
            (std::vector<std::string>{"transaction ending", "transaction ended"}));
}

TEST_F(Transactions, RollbackDiscardsChanges) {
  transaction.Start();
  ASSERT_EQ(Exec(database, transaction, kMark), 0);
  transaction.SetActive(false);  // rolls back
  EXPECT_FALSE(transaction.Active());
  EXPECT_EQ(CommittedMarks(), 0);
}

TEST_F(Transactions, RetainingVariantsKeepTheTransactionAndTellNobody) {
  Recorder statement;
  statement.base.SetTransaction(&transaction);
  transaction.SetActive(true);
  const isc_tr_handle handle = transaction.Handle();
  ASSERT_EQ(Exec(database, transaction, kMark), 0);
  transaction.CommitRetaining();
  EXPECT_TRUE(transaction.Active());
  EXPECT_EQ(transaction.Handle(), handle);
  EXPECT_EQ(CommittedMarks(), 1);

  ASSERT_EQ(Exec(database, transaction,
                 "UPDATE Tb_Musicas SET Mus_Compositor = 'Mark' WHERE Mus_Codigo = 2"),
            0);
  transaction.RollbackRetaining();
  EXPECT_TRUE(transaction.Active());
  EXPECT_EQ(CommittedMarks(), 1);
  // The retained transaction goes on working.
  EXPECT_EQ(QueryInt(database, transaction, "SELECT COUNT(*) FROM Tb_Musicas"), 3);
  EXPECT_TRUE(statement.events.empty());
  transaction.Commit();
}

TEST_F(Transactions, ClosingTheDatabaseEndsTransactionsByTheirDefaultAction) {
  transaction.Start();
  ASSERT_EQ(Exec(database, transaction, kMark), 0);
  database.Close();  // DefaultAction commit
  EXPECT_FALSE(transaction.Active());
  EXPECT_EQ(CommittedMarks(), 1);

  database.Open();
  transaction.SetDefaultAction(TARollbackRetaining);  // a 6.0 client allows it
  transaction.Start();
  ASSERT_EQ(Exec(database, transaction,
                 "UPDATE Tb_Musicas SET Mus_Compositor = 'Mark' WHERE Mus_Codigo = 2"),
            0);
  database.Close();  // rolls back
  EXPECT_FALSE(transaction.Active());
  EXPECT_EQ(CommittedMarks(), 1);
  database.Open();
}

TEST_F(Transactions, AutoStartAndAutoStop) {
  Recorder dataSet(true);
  dataSet.base.SetTransaction(&transaction);
  transaction.AllowAutoStart = false;
  transaction.AutoStart();
  EXPECT_FALSE(transaction.Active());
  transaction.AllowAutoStart = true;
  transaction.AutoStart();
  EXPECT_TRUE(transaction.Active());
  EXPECT_TRUE(transaction.AutoStarted());

  transaction.CheckAutoStop();  // saNone
  EXPECT_TRUE(transaction.Active());
  transaction.AutoStopAction = saCommit;
  dataSet.open = true;
  transaction.CheckAutoStop();  // an open dataset still uses it
  EXPECT_TRUE(transaction.Active());
  dataSet.open = false;
  transaction.CheckAutoStop();
  EXPECT_FALSE(transaction.Active());
  EXPECT_FALSE(transaction.AutoStarted());
}

// ---------------------------------------------------------------------------------------------
// Server errors and their classes

class ServerErrors : public test::FirebirdTest {};

TEST_F(ServerErrors, MessageLinesAndCodesOfAFailedStatement) {
  TIBDatabase database;
  TIBTransaction transaction;
  SetUpLikeTheWindow(database, Database().Path());
  SetUpLikeTheWindow(transaction, database);
  database.Open();
  transaction.Start();
  const ISC_STATUS result = Exec(database, transaction, "UPDATE Tb_Nada SET X = 1");
  ASSERT_GT(result, 0);
  try {
    transaction.CheckStatus(result, true);
    FAIL() << "no error raised";
  } catch (const EIBInterBaseError& e) {
    EXPECT_EQ(e.SqlCode, -204);
    EXPECT_EQ(e.ServerErrorCode, 335544569);  // dynamic SQL error
    EXPECT_EQ(e.Message.rfind("Dynamic SQL Error\r\nSQL error code = -204\r\nTable unknown\r\n"
                              "TB_NADA",
                              0),
              0u)
        << e.Message;
  }
  // Without raising, the status comes back and the state is kept.
  EXPECT_EQ(transaction.CheckStatus(result, false), result);
  EXPECT_TRUE(transaction.Active());
  transaction.Rollback();
  database.Close();
}

TEST_F(ServerErrors, NoPermissionRaisesTheRoleErrorClass) {
  TIBDatabase database;
  TIBTransaction transaction;
  SetUpLikeTheWindow(database, Database().Path());
  database.SetParams({"user_name=OUTSIDER", "password=x"});
  SetUpLikeTheWindow(transaction, database);
  database.Open();
  transaction.Start();
  const ISC_STATUS result =
      Exec(database, transaction, "UPDATE Tb_Musicas SET Mus_Compositor = 'x'");
  ASSERT_GT(result, 0);
  try {
    transaction.CheckStatus(result, true);
    FAIL() << "no error raised";
  } catch (const EIBInterBaseRoleError& e) {
    const EIBError& base = e;
    EXPECT_EQ(base.SqlCode, -551);
    EXPECT_EQ(e.ServerErrorCode, 335544352);  // no permission
    EXPECT_EQ(e.Message.rfind("no permission for UPDATE access to TABLE TB_MUSICAS", 0), 0u)
        << e.Message;
  }
  transaction.Rollback();
}

TEST_F(ServerErrors, LostConnectionInTheStatusClosesTheDatabase) {
  TIBDatabase database;
  TIBTransaction transaction;
  SetUpLikeTheWindow(database, Database().Path());
  SetUpLikeTheWindow(transaction, database);
  Recorder statement;
  statement.base.SetDatabase(&database);
  database.Open();
  transaction.Start();
  int disconnects = 0;
  database.AfterDisconnect = [&] { ++disconnects; };

  ISC_STATUS* status = db::StatusVector();
  const ISC_STATUS lost[] = {1, db::kNetworkRequestFailed, 1, db::kConnectionLost, 0};
  std::copy(std::begin(lost), std::end(lost), status);
  try {
    transaction.CheckStatus(1, true);
    FAIL() << "no error raised";
  } catch (const EIBInterBaseError& e) {
    EXPECT_EQ(e.ServerErrorCode, db::kNetworkRequestFailed);
    EXPECT_EQ(e.SqlCode, -902);
    EXPECT_EQ(e.Message.rfind("Unable to complete network request to host", 0), 0u) << e.Message;
  }
  EXPECT_FALSE(database.Connected());
  EXPECT_FALSE(transaction.Active());
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(statement.events.front(), "database closing");
}

// ---------------------------------------------------------------------------------------------
// Trace hook

class Trace : public test::FirebirdTest {};

TEST_F(Trace, EntriesReachAListenerOnlyWhenTheDatabaseAsks) {
  std::vector<TTraceEntry> entries;
  TIBSQLMonitorHook* hook = MonitorHook();
  hook->SetApplicationTitle("Lirenta");
  const int id = hook->AddListener([&](const TTraceEntry& e) { entries.push_back(e); });

  TIBDatabase database("DB_Kavro");
  TIBTransaction transaction("Trans_Kavro");
  SetUpLikeTheWindow(database, Database().Path());
  SetUpLikeTheWindow(transaction, database);
  database.Open();
  transaction.Start();
  transaction.Commit();
  database.Close();
  EXPECT_TRUE(entries.empty());  // TraceFlags empty, as on the main window

  database.TraceFlags = TraceFlag(tfConnect) | TraceFlag(tfTransact);
  database.Open();
  transaction.Start();
  transaction.CommitRetaining();
  transaction.RollbackRetaining();
  transaction.Rollback();
  transaction.Start();
  hook->SetTraceFlags(kAllTraceFlags & ~TraceFlag(tfTransact));
  transaction.Commit();  // the hook's own flags no longer hold tfTransact
  hook->SetTraceFlags(kAllTraceFlags);
  database.Close();
  std::vector<std::string> texts;
  for (const auto& e : entries) texts.push_back(e.Text);
  const std::string head = "\r\n[Application: Lirenta]\r\n";
  EXPECT_EQ(texts, (std::vector<std::string>{
                       head + "DB_Kavro: [Connect]", head + "Trans_Kavro: [Start transaction]",
                       head + "Trans_Kavro: [Commit retaining (Soft commit)]",
                       head + "Trans_Kavro: [Rollback retaining (Soft rollback)]",
                       head + "Trans_Kavro: [Rollback]", head + "Trans_Kavro: [Start transaction]",
                       head + "DB_Kavro: [Disconnect]"}));
  EXPECT_EQ(entries.front().Flag, tfConnect);
  EXPECT_GT(entries.front().TimeStamp, 0);

  // Every raised error is offered, whatever the database traces.
  entries.clear();
  EXPECT_THROW(transaction.Commit(), EIBClientError);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Text, head + "[Error] Transaction is not active");
  EXPECT_EQ(entries[0].Flag, tfError);
  hook->SetEnabled(false);
  EXPECT_THROW(transaction.Commit(), EIBClientError);
  hook->SendMisc("quiet");
  hook->SetEnabled(true);
  hook->SendMisc("note");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].Text, head + "[Misc] note");

  hook->RemoveListener(id);
  EXPECT_FALSE(hook->HasListeners());
  EXPECT_THROW(transaction.Commit(), EIBClientError);
  EXPECT_EQ(entries.size(), 2u);
}

}  // namespace
