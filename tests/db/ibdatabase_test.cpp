// Attachment, transactions and their parameter blocks, the links between the components, server
// errors and the trace hook, against the embedded Firebird engine.
#include "db/IBDatabase.h"

#include <gtest/gtest.h>

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
#include "tests/support/StoredSongs.h"
#include "tests/support/WindowConnection.h"

namespace {

using namespace std::string_literals;
using test::ErrorOf;
using test::MessageOf;
using Lines = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------
// Parameter blocks: a version byte, then per line its code, the value's length and the value.
// DPB codes: 5 num_buffers, 10 sweep, 21 activate_shadow, 22 sweep_interval, 24 force_write,
// 28 user_name, 29 password, 48 lc_ctype, 60 sql_role_name, 63 sql_dialect.
// TPB codes: 2 concurrency, 6 wait, 7 nowait, 9 write, 10 lock_read, 11 lock_write,
// 15 read_committed, 17 rec_version.

struct BlockCase {
  std::string (*build)(const Lines&);
  Lines lines;
  std::string bytes;
};

TEST(ParameterBlocks, BytesOfEachLine) {
  const BlockCase cases[] = {
      // The main window's connection and transaction.
      {db::BuildDPB,
       {"user_name=SYSDBA", "password=velkadrum"},
       "\x01\x1c\x06SYSDBA\x1d\x09velkadrum"},
      {db::BuildTPB, {"read_committed", "rec_version", "nowait"}, "\x03\x0f\x11\x07"},
      {db::BuildTPB, {"read_committed", "  ", "rec_version", "nowait"}, "\x03\x0f\x11\x07"},
      {db::BuildTPB, {}, ""},
      // Names ignore letter case and the prefix, but not blanks; values keep their blanks.
      {db::BuildDPB, {"USER_NAME=SYSDBA"}, "\x01\x1c\x06SYSDBA"},
      {db::BuildDPB, {"isc_dpb_user_name=SYSDBA"}, "\x01\x1c\x06SYSDBA"},
      {db::BuildDPB, {"ISC_DPB_Password= x "}, "\x01\x1d\x03 x "},
      {db::BuildTPB, {"isc_tpb_wait", "Concurrency", "write=ignored"}, "\x03\x06\x02\x09"},
      // A line without "=" has no name and is skipped; sweep ignores its value.
      {db::BuildDPB, {"sweep"}, "\x01"},
      {db::BuildDPB, {"", "   =x", "sweep=x"}, "\x01\x0a\x01\x02"},
      // One byte, four bytes (least significant first), or the text.
      {db::BuildDPB, {"sql_dialect=3"}, "\x01\x3f\x01\x03"},
      {db::BuildDPB, {"num_buffers=300"}, "\x01\x05\x01\x2c"},
      {db::BuildDPB, {"force_write=1"}, "\x01\x18\x01\x01"},
      {db::BuildDPB, {"activate_shadow=9", "begin_log"}, "\x01\x15\x01\x00"s},
      {db::BuildDPB, {"sweep_interval=20000"}, "\x01\x16\x04\x20\x4e\x00\x00"s},
      {db::BuildDPB, {"lc_ctype=WIN1252", "sql_role_name=R"}, "\x01\x30\x07WIN1252\x3c\x01R"},
      {db::BuildTPB, {"lock_write=TB_MUSICAS"}, "\x03\x0b\x0aTB_MUSICAS"},
      {db::BuildTPB, {"lock_read"}, "\x03\x0a\x00"s},
      // The longest value a length byte holds; an empty dialect gives an empty value.
      {db::BuildDPB, {"password=" + std::string(255, 'p')}, "\x01\x1d\xff" + std::string(255, 'p')},
      {db::BuildDPB, {"sql_dialect="}, "\x01\x3f\x00"s},
  };
  for (const BlockCase& c : cases)
    EXPECT_EQ(c.build(c.lines), c.bytes) << testing::PrintToString(c.lines);
}

TEST(ParameterBlocks, RefusedLines) {
  struct Refusal {
    std::string (*build)(const Lines&);
    std::string line;
    int sqlCode;
    std::string message;
  };
  const Refusal refusals[] = {
      {db::BuildDPB, " USER_NAME=SYSDBA", 114, "DPB Constant ( USER_NAME) is unknown"},
      {db::BuildDPB, "User=SYSDBA", 114, "DPB Constant (User) is unknown"},
      {db::BuildDPB, "page_size=4096", 11, "DPB Constant (isc_dpb_page_size) is unsupported"},
      {db::BuildDPB, "isc_dpb_no_garbage_collect=1", 11,
       "DPB Constant (isc_dpb_no_garbage_collect) is unsupported"},
      // 256 bytes do not fit the length byte: refused rather than spilled into further values.
      {db::BuildDPB, "password=" + std::string(256, 'p'), 11,
       "DPB Constant (isc_dpb_password) is unsupported"},
      {db::BuildTPB, "autocommit", 13, "TPB Constant (isc_tpb_autocommit) is unsupported"},
      {db::BuildTPB, "read_commited", 115, "TPB Constant (read_commited) is unknown"},
      {db::BuildTPB, "Snapshot=yes", 115, "TPB Constant (Snapshot) is unknown"},
      {db::BuildTPB, "lock_write=" + std::string(256, 'T'), 13,
       "TPB Constant (isc_tpb_lock_write) is unsupported"},
  };
  for (const Refusal& r : refusals) {
    const EIBClientError e = ErrorOf<EIBClientError>([&] { r.build({r.line}); });
    EXPECT_EQ(e.SqlCode, r.sqlCode) << r.line;
    EXPECT_EQ(e.Message, r.message);
  }
  EXPECT_EQ(MessageOf<EConvertError>([] { db::BuildDPB({"num_buffers=many"}); }),
            "'many' is not a valid integer value");
}

// ---------------------------------------------------------------------------------------------
// Helpers

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

using test::SetUpLikeTheWindow;

// ---------------------------------------------------------------------------------------------
// Attachment

class Attachment : public test::FirebirdTest {};

TEST_F(Attachment, ConnectsWithTheWindowsParametersAndReadsTheDialect) {
  test::WindowConnection window(Database().Path());
  TIBDatabase& database = window.database;
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
  EXPECT_EQ(events,
            (Lines{"before connect", "after connect", "before disconnect", "after disconnect"}));
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

  const EIBClientError e = ErrorOf<EIBClientError>([&] { database.SetSQLDialect(3); });
  EXPECT_EQ(e.SqlCode, 87);
  EXPECT_EQ(e.Message, "SQL Dialect Invalid");
  EXPECT_EQ(database.SQLDialect(), 1);
  EXPECT_EQ(MessageOf<EIBClientError>([&] { database.SetSQLDialect(0); }), "SQL Dialect Invalid");
  database.Close();
  EXPECT_EQ(database.DBSQLDialect(), 1);
  database.SetSQLDialect(3);  // closed: any dialect from 1 up
  EXPECT_EQ(database.SQLDialect(), 3);
}

TEST_F(Attachment, ClosedAndOpenStateChecks) {
  TIBDatabase database;
  database.LoginPrompt = false;
  EIBClientError e = ErrorOf<EIBClientError>([&] { database.Open(); });
  EXPECT_EQ(e.SqlCode, 17);
  EXPECT_EQ(e.Message, "Database name is missing");
  EXPECT_EQ(MessageOf<EIBClientError>([&] { database.RequireOpen(); }),
            "Cannot perform operation -- DB is not open");
  EXPECT_EQ(MessageOf<EIBClientError>([&] { database.SetIdleTimer(-1); }),
            "Timeout values cannot be negative");

  SetUpLikeTheWindow(database, Database().Path());
  database.Open();
  e = ErrorOf<EIBClientError>([&] { database.AddParam("lc_ctype=WIN1252"); });
  EXPECT_EQ(e.SqlCode, 16);
  EXPECT_EQ(e.Message, "Cannot perform operation -- DB is currently open");
  EXPECT_EQ(database.Params(), test::DefaultDatabaseParams());
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { database.SetDatabaseName("/elsewhere.fdb"); }).SqlCode,
            16);
  database.SetDatabaseName(Database().Path());  // the same name: nothing to refuse
  EXPECT_EQ(database.DatabaseName(), Database().Path());
}

TEST_F(Attachment, ServerErrorOfAFailedAttach) {
  TIBDatabase database;
  SetUpLikeTheWindow(database, Database().Folder() + "/missing.fdb");
  const auto attach = [&] { database.Open(); };
  const EIBInterBaseError e = ErrorOf<EIBInterBaseError>(attach);
  EXPECT_EQ(e.SqlCode, -902);
  EXPECT_EQ(e.ServerErrorCode, 335544344);  // I/O error
  EXPECT_EQ(e.Message.rfind("I/O error during \"open\" operation for file \"", 0), 0u) << e.Message;
  EXPECT_NE(e.Message.find("missing.fdb\"\r\nError while trying to open file\r\n"),
            std::string::npos)
      << e.Message;
  EXPECT_NE(e.Message.back(), '.');
  EXPECT_EQ(e.Message.find("\n\n"), std::string::npos);
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(database.Handle(), 0u);

  // With the SQL code among the message parts, the message starts with it.
  db::SetErrorMessageParts(db::kShowSQLCode | db::kShowServerMessage | db::kShowSQLMessage);
  const std::string all = MessageOf<EIBInterBaseError>(attach);
  db::SetErrorMessageParts(db::kShowSQLCode);
  const std::string codeOnly = MessageOf<EIBInterBaseError>(attach);
  db::SetErrorMessageParts(db::kShowServerMessage | db::kShowSQLMessage);
  EXPECT_EQ(all.rfind("SQLCODE: -902\r\nI/O error during", 0), 0u) << all;
  EXPECT_EQ(codeOnly, "SQLCODE: -902");
}

TEST_F(Attachment, LoginPromptWithoutAndWithALoginHandler) {
  TIBDatabase database("DB_Kavro");
  database.SetDatabaseName(Database().Path());
  database.SetParams({"user_name=SYSDBA", "password=velkadrum"});
  const EIBError e = ErrorOf<EIBError>([&] { database.Open(); });
  EXPECT_EQ(e.Message,
            "Can not find default login prompt dialog.  Please add DBLogDlg to the uses section "
            "of your main file.");
  EXPECT_EQ(e.SqlCode, 0);
  EXPECT_EQ(e.ServerErrorCode, 0);
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
  EXPECT_EQ(database.Params(), Lines{"user_name=SYSDBA"});
  EXPECT_EQ(database.DPB(), db::BuildDPB({"user_name=SYSDBA", "password=secret"}));
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
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { database.RequireOpen(); }).SqlCode, 15);

  database.SetDatabaseName(Database().Path());
  database.RequireOpen();
  EXPECT_TRUE(database.Connected());
  database.Close();

  // A stored connect with a transaction stored as active starts both.
  test::WindowConnection stored(Database().Path());
  stored.database.BeginLoading();
  stored.transaction.BeginLoading();
  stored.database.SetConnected(true);
  stored.transaction.SetActive(true);
  stored.transaction.Loaded();
  EXPECT_FALSE(stored.transaction.Active());
  stored.database.Loaded();
  EXPECT_TRUE(stored.database.Connected());
  EXPECT_TRUE(stored.transaction.Active());
  stored.database.Close();
  EXPECT_FALSE(stored.transaction.Active());

  // AllowStreamedConnected false ignores the stored state.
  TIBDatabase ignored;
  SetUpLikeTheWindow(ignored, Database().Path());
  ignored.AllowStreamedConnected = false;
  ignored.BeginLoading();
  ignored.SetConnected(true);
  ignored.Loaded();
  EXPECT_FALSE(ignored.Connected());
}

// ---------------------------------------------------------------------------------------------
// Links and lists

class Links : public test::FirebirdTest {};

TEST_F(Links, ABaseTakesTheDefaultTransactionAndSlotsAreReused) {
  test::WindowConnection window(Database().Path());
  TIBDatabase& database = window.database;
  TIBTransaction& transaction = window.transaction;
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
  EXPECT_EQ(MessageOf<EIBClientError>([&] { lone.base.RequireDatabase(); }),
            "Database not assigned");
  EXPECT_EQ(MessageOf<EIBClientError>([&] { lone.base.RequireTransaction(); }),
            "Transaction not assigned");
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { a.base.DBHandle(); }).SqlCode, 15);
  EXPECT_EQ(MessageOf<EIBClientError>([&] { a.base.TRHandle(); }), "Transaction is not active");
  database.Open();
  transaction.Start();
  EXPECT_EQ(a.base.DBHandle(), database.HandleAddress());
  EXPECT_EQ(a.base.TRHandle(), transaction.HandleAddress());
  transaction.Commit();
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
  EXPECT_EQ(statement.events, (Lines{"database closing", "transaction ending", "transaction ended",
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

constexpr const char* kMark = "UPDATE Tb_Musicas SET Mus_Compositor = 'Mark' WHERE Mus_Codigo = 1";
constexpr const char* kMarkSecond =
    "UPDATE Tb_Musicas SET Mus_Compositor = 'Mark' WHERE Mus_Codigo = 2";

class Transactions : public test::ConnectedTest {
 protected:
  void TearDown() override {
    if (transaction.Active()) transaction.Rollback();
    // Put the song back for the next test.
    TIBTransaction reset;
    reset.SetDefaultDatabase(&database);
    reset.Start();
    test::ExecImmediate(database, reset,
                        "UPDATE Tb_Musicas SET Mus_Compositor = NULL WHERE Mus_Codigo = 1");
    reset.Commit();
  }

  // Marks as another attachment sees them: only what is committed.
  static int CommittedMarks() {
    int marks = 0;
    for (const auto& [codigo, song] : test::ReadStoredSongs(Database().Path()))
      marks += song.Compositor == "Mark";
    return marks;
  }
  ISC_STATUS Exec(const char* sql) { return test::ExecImmediate(database, transaction, sql); }
};

TEST_F(Transactions, StartBuildsTheTPBAndRefusesTwice) {
  transaction.Start();
  EXPECT_TRUE(transaction.Active());
  EXPECT_EQ(transaction.TPB(), "\x03\x0f\x11\x07");
  EXPECT_EQ(MessageOf<EIBClientError>([&] { transaction.Start(); }), "Transaction is active");
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { transaction.AddParam("wait"); }).SqlCode, 19);
  transaction.Commit();
  EXPECT_FALSE(transaction.Active());
  EXPECT_EQ(transaction.Handle(), 0u);
  EXPECT_EQ(MessageOf<EIBClientError>([&] { transaction.CommitRetaining(); }),
            "Transaction is not active");
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { transaction.Rollback(); }).SqlCode, 18);

  TIBTransaction lonely;
  EXPECT_EQ(MessageOf<EIBClientError>([&] { lonely.Start(); }),
            "No databases are listed in transaction component");
  TIBDatabase closed;
  lonely.SetDefaultDatabase(&closed);
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { lonely.Start(); }).SqlCode, 15);
  // A refused TPB line stops the start with the handle still 0.
  lonely.SetDefaultDatabase(&database);
  lonely.SetParams({"autocommit"});
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { lonely.Start(); }).SqlCode, 13);
  EXPECT_FALSE(lonely.Active());
}

TEST_F(Transactions, CommitMakesChangesVisibleAndNotifiesItsStatements) {
  Recorder statement;
  statement.base.SetTransaction(&transaction);
  transaction.Start();
  ASSERT_EQ(Exec(kMark), 0);
  EXPECT_EQ(CommittedMarks(), 0);
  transaction.Commit();
  EXPECT_EQ(CommittedMarks(), 1);
  EXPECT_EQ(statement.events, (Lines{"transaction ending", "transaction ended"}));
}

TEST_F(Transactions, RollbackDiscardsChanges) {
  transaction.Start();
  ASSERT_EQ(Exec(kMark), 0);
  transaction.SetActive(false);  // rolls back
  EXPECT_FALSE(transaction.Active());
  EXPECT_EQ(CommittedMarks(), 0);
}

TEST_F(Transactions, RetainingVariantsKeepTheTransactionAndTellNobody) {
  Recorder statement;
  statement.base.SetTransaction(&transaction);
  transaction.SetActive(true);
  const isc_tr_handle handle = transaction.Handle();
  ASSERT_EQ(Exec(kMark), 0);
  transaction.CommitRetaining();
  EXPECT_TRUE(transaction.Active());
  EXPECT_EQ(transaction.Handle(), handle);
  EXPECT_EQ(CommittedMarks(), 1);

  ASSERT_EQ(Exec(kMarkSecond), 0);
  transaction.RollbackRetaining();
  EXPECT_TRUE(transaction.Active());
  EXPECT_EQ(CommittedMarks(), 1);
  // The retained transaction goes on working.
  EXPECT_EQ(test::ReadStoredSongs(database, transaction).size(), 3u);
  EXPECT_TRUE(statement.events.empty());
  transaction.Commit();
}

TEST_F(Transactions, ClosingTheDatabaseEndsTransactionsByTheirDefaultAction) {
  transaction.Start();
  ASSERT_EQ(Exec(kMark), 0);
  database.Close();  // DefaultAction commit
  EXPECT_FALSE(transaction.Active());
  EXPECT_EQ(CommittedMarks(), 1);

  database.Open();
  transaction.SetDefaultAction(TARollbackRetaining);  // a 6.0 client allows it
  transaction.Start();
  ASSERT_EQ(Exec(kMarkSecond), 0);
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

class ServerErrors : public test::ConnectedTest {
 protected:
  // Starts the transaction and runs `sql`, which must fail; returns the failed call's status.
  ISC_STATUS FailedExec(const std::string& sql) {
    transaction.Start();
    const ISC_STATUS result = test::ExecImmediate(database, transaction, sql);
    EXPECT_GT(result, 0);
    return result;
  }
};

TEST_F(ServerErrors, MessageLinesAndCodesOfAFailedStatement) {
  const ISC_STATUS result = FailedExec("UPDATE Tb_Nada SET X = 1");
  const EIBInterBaseError e =
      ErrorOf<EIBInterBaseError>([&] { transaction.CheckStatus(result, true); });
  EXPECT_EQ(e.SqlCode, -204);
  EXPECT_EQ(e.ServerErrorCode, 335544569);  // dynamic SQL error
  EXPECT_EQ(
      e.Message.rfind("Dynamic SQL Error\r\nSQL error code = -204\r\nTable unknown\r\nTB_NADA", 0),
      0u)
      << e.Message;
  // Without raising, the status comes back and the state is kept.
  EXPECT_EQ(transaction.CheckStatus(result, false), result);
  EXPECT_TRUE(transaction.Active());
}

TEST_F(ServerErrors, NoPermissionRaisesTheRoleErrorClass) {
  database.Close();
  database.SetParams({"user_name=OUTSIDER", "password=x"});
  database.Open();
  const ISC_STATUS result = FailedExec("UPDATE Tb_Musicas SET Mus_Compositor = 'x'");
  const EIBInterBaseRoleError e =
      ErrorOf<EIBInterBaseRoleError>([&] { transaction.CheckStatus(result, true); });
  EXPECT_EQ(e.SqlCode, -551);
  EXPECT_EQ(e.ServerErrorCode, 335544352);  // no permission
  EXPECT_EQ(e.Message.rfind("no permission for UPDATE access to TABLE TB_MUSICAS", 0), 0u)
      << e.Message;
}

TEST_F(ServerErrors, LostConnectionInTheStatusClosesTheDatabase) {
  Recorder statement;
  statement.base.SetDatabase(&database);
  transaction.Start();
  int disconnects = 0;
  database.AfterDisconnect = [&] { ++disconnects; };

  const ISC_STATUS lost[] = {1, db::kNetworkRequestFailed, 1, db::kConnectionLost, 0};
  std::copy(std::begin(lost), std::end(lost), db::StatusVector());
  const EIBInterBaseError e = ErrorOf<EIBInterBaseError>([&] { transaction.CheckStatus(1, true); });
  EXPECT_EQ(e.ServerErrorCode, db::kNetworkRequestFailed);
  EXPECT_EQ(e.SqlCode, -902);
  EXPECT_EQ(e.Message.rfind("Unable to complete network request to host", 0), 0u) << e.Message;
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

  test::WindowConnection window(Database().Path());
  TIBDatabase& database = window.database;
  TIBTransaction& transaction = window.transaction;
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
  Lines texts;
  for (const auto& e : entries) texts.push_back(e.Text);
  const std::string head = "\r\n[Application: Lirenta]\r\n";
  EXPECT_EQ(texts,
            (Lines{head + "DB_Kavro: [Connect]", head + "Trans_Kavro: [Start transaction]",
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
