// Attachment through the Firebird server on 127.0.0.1, started by the test fixture on a free
// port: attach, a wrong password's message, and a connection that dies in a transaction.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "db/IBDatabase.h"
#include "db/IBErrors.h"
#include "db/IBTransaction.h"
#include "tests/support/FirebirdFixture.h"

namespace {

class Loopback : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    database_ = std::make_unique<test::FirebirdDatabase>();
    server_ = test::FirebirdServer::Instance();
  }
  static void TearDownTestSuite() { database_.reset(); }

  void SetUp() override {
    ASSERT_NE(server_, nullptr) << "no Firebird server on loopback: "
                                << test::FirebirdServer::Reason();
    std::string reason;
    ASSERT_TRUE(server_->Running() || server_->Start(reason))
        << "the Firebird server did not start again: " << reason;
  }

  void SetUpConnection(TIBDatabase& database, TIBTransaction& transaction) {
    database.SetDatabaseName(server_->ConnectString(database_->Path()));
    database.SetParams(test::DefaultDatabaseParams());
    database.LoginPrompt = false;
    database.SetSQLDialect(1);
    transaction.SetParams({"read_committed", "rec_version", "nowait"});
    transaction.SetDefaultDatabase(&database);
  }

  static ISC_STATUS Exec(TIBDatabase& database, TIBTransaction& transaction,
                         const std::string& sql) {
    return database.GDSLibrary().isc_dsql_execute_immediate(
        db::StatusVector(), database.HandleAddress(), transaction.HandleAddress(), 0, sql.c_str(),
        1, nullptr);
  }

  static std::unique_ptr<test::FirebirdDatabase> database_;
  static test::FirebirdServer* server_;
};

std::unique_ptr<test::FirebirdDatabase> Loopback::database_;
test::FirebirdServer* Loopback::server_ = nullptr;

TEST_F(Loopback, AttachesThroughTheServerAndCommits) {
  TIBDatabase database("DB_Kavro");
  TIBTransaction transaction("Trans_Kavro");
  SetUpConnection(database, transaction);
  EXPECT_EQ(database.DatabaseName().rfind("127.0.0.1/", 0), 0u);
  database.Open();
  ASSERT_TRUE(database.Connected());
  EXPECT_EQ(database.DBSQLDialect(), 1);
  transaction.Start();
  ASSERT_EQ(Exec(database, transaction,
                 "UPDATE Tb_Musicas SET Mus_Compositor = 'Loopback' WHERE Mus_Codigo = 1"),
            0);
  transaction.CommitRetaining();
  EXPECT_TRUE(transaction.Active());
  transaction.Commit();
  database.Close();
  EXPECT_FALSE(database.Connected());

  // Seen from outside: the change is committed.
  const std::string out =
      database_->Isql("SELECT Mus_Compositor FROM Tb_Musicas WHERE Mus_Codigo = 1;\n",
                      server_->ConnectString(database_->Path()));
  EXPECT_NE(out.find("Loopback"), std::string::npos) << out;
}

TEST_F(Loopback, WrongPasswordGivesTheServersMessage) {
  TIBDatabase database;
  TIBTransaction transaction;
  SetUpConnection(database, transaction);
  database.SetParams({"user_name=SYSDBA", "password=wrong"});
  try {
    database.Open();
    FAIL() << "attached with a wrong password";
  } catch (const EIBInterBaseError& e) {
    EXPECT_EQ(e.SqlCode, -902);
    EXPECT_EQ(e.ServerErrorCode, 335544472);  // login refused
    EXPECT_EQ(e.Message,
              "Your user name and password are not defined. Ask your database administrator to "
              "set up a Firebird login");
  }
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(database.Handle(), 0u);
}

TEST_F(Loopback, ServerKilledInATransactionTakesTheLostConnectionPath) {
  TIBDatabase database;
  TIBTransaction transaction;
  SetUpConnection(database, transaction);
  int disconnects = 0;
  database.AfterDisconnect = [&] { ++disconnects; };
  database.Open();
  transaction.Start();
  ASSERT_EQ(Exec(database, transaction,
                 "UPDATE Tb_Musicas SET Mus_Compositor = 'Lost' WHERE Mus_Codigo = 2"),
            0);

  server_->Kill();
  // The transaction hands over to the database only for a lost connection (335544741); the
  // client reports a read failure here, which raises as it is and leaves the state alone.
  try {
    transaction.CommitRetaining();
    FAIL() << "commit succeeded without a server";
  } catch (const EIBInterBaseError& e) {
    EXPECT_EQ(e.SqlCode, -902) << e.Message;
    EXPECT_EQ(e.ServerErrorCode, db::kNetworkReadError) << e.Message;
    EXPECT_EQ(e.Message, "Error reading data from the connection");
  }
  EXPECT_TRUE(transaction.Active());
  EXPECT_TRUE(database.Connected());

  // A statement's call checked by the database takes the lost-connection path: the database
  // is abandoned (events, forced end of its transactions) and the error travels on.
  const ISC_STATUS result = Exec(
      database, transaction, "UPDATE Tb_Musicas SET Mus_Compositor = 'Again' WHERE Mus_Codigo = 2");
  ASSERT_GT(result, 0);
  ASSERT_TRUE(
      db::StatusVectorHas({db::kConnectionLost, db::kNetworkReadError, db::kNetworkWriteError}));
  try {
    database.CheckStatus(result, true);
    FAIL() << "no error raised";
  } catch (const EIBInterBaseError& e) {
    EXPECT_EQ(e.SqlCode, -902) << e.Message;
    EXPECT_FALSE(e.Message.empty());
  }
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(database.Handle(), 0u);
  EXPECT_FALSE(transaction.Active());
  EXPECT_EQ(disconnects, 1);

  // With the server back, the uncommitted change is not there and the database opens again.
  std::string reason;
  ASSERT_TRUE(server_->Start(reason)) << reason;
  database.Open();
  transaction.Start();
  EXPECT_EQ(Exec(database, transaction,
                 "UPDATE Tb_Musicas SET Mus_Compositor = NULL WHERE Mus_Compositor = 'Lost'"),
            0);
  transaction.Commit();
  database.Close();
}

}  // namespace
