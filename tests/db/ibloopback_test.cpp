// Attachment through the Firebird server on 127.0.0.1, started by the test fixture on a free
// port: attach, a wrong password's message, and a connection that dies in a transaction.
#include <gtest/gtest.h>

#include <string>

#include "db/IBDatabase.h"
#include "db/IBErrors.h"
#include "db/IBTransaction.h"
#include "tests/support/Failures.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/StoredSongs.h"
#include "tests/support/WindowConnection.h"

namespace {

using test::ErrorOf;

class Loopback : public test::FirebirdTest {
 protected:
  void SetUp() override {
    ASSERT_NE(server, nullptr) << "no Firebird server on loopback: "
                               << test::FirebirdServer::Reason();
    std::string reason;
    ASSERT_TRUE(server->Running() || server->Start(reason))
        << "the Firebird server did not start again: " << reason;
  }

  // Runs `sql` in the connection's transaction; 0 when it succeeded.
  static ISC_STATUS Exec(test::WindowConnection& c, const std::string& sql) {
    return test::ExecImmediate(c.database, c.transaction, sql);
  }

  test::FirebirdServer* server = test::FirebirdServer::Instance();
  std::string connectString = server ? server->ConnectString(Database().Path()) : "";
};

TEST_F(Loopback, AttachesThroughTheServerAndCommits) {
  {
    test::WindowConnection c(connectString);
    EXPECT_EQ(c.database.DatabaseName().rfind("127.0.0.1/", 0), 0u);
    c.database.Open();
    ASSERT_TRUE(c.database.Connected());
    EXPECT_EQ(c.database.DBSQLDialect(), 1);
    c.transaction.Start();
    ASSERT_EQ(Exec(c, "UPDATE Tb_Musicas SET Mus_Compositor = 'Loopback' WHERE Mus_Codigo = 1"), 0);
    c.transaction.CommitRetaining();
    EXPECT_TRUE(c.transaction.Active());
    c.transaction.Commit();
    c.database.Close();
    EXPECT_FALSE(c.database.Connected());
  }
  // Seen from another attachment through the server: the change is committed.
  EXPECT_EQ(test::ReadStoredSongs(connectString).at(1).Compositor, "Loopback");
}

TEST_F(Loopback, WrongPasswordGivesTheServersMessage) {
  test::WindowConnection c(connectString);
  c.database.SetParams({"user_name=SYSDBA", "password=wrong"});
  const EIBInterBaseError e = ErrorOf<EIBInterBaseError>([&] { c.database.Open(); });
  EXPECT_EQ(e.SqlCode, -902);
  EXPECT_EQ(e.ServerErrorCode, 335544472);  // login refused
  EXPECT_EQ(e.Message,
            "Your user name and password are not defined. Ask your database administrator to "
            "set up a Firebird login");
  EXPECT_FALSE(c.database.Connected());
  EXPECT_EQ(c.database.Handle(), 0u);
}

TEST_F(Loopback, ServerKilledInATransactionTakesTheLostConnectionPath) {
  test::WindowConnection c(connectString);
  int disconnects = 0;
  c.database.AfterDisconnect = [&] { ++disconnects; };
  c.database.Open();
  c.transaction.Start();
  ASSERT_EQ(Exec(c, "UPDATE Tb_Musicas SET Mus_Compositor = 'Lost' WHERE Mus_Codigo = 2"), 0);

  server->Kill();
  // The transaction hands over to the database only for a lost connection (335544741); the
  // client reports a read failure here, which raises as it is and leaves the state alone.
  const EIBInterBaseError e = ErrorOf<EIBInterBaseError>([&] { c.transaction.CommitRetaining(); });
  EXPECT_EQ(e.SqlCode, -902) << e.Message;
  EXPECT_EQ(e.ServerErrorCode, db::kNetworkReadError) << e.Message;
  EXPECT_EQ(e.Message, "Error reading data from the connection");
  EXPECT_TRUE(c.transaction.Active());
  EXPECT_TRUE(c.database.Connected());

  // A statement's call checked by the database takes the lost-connection path: the database
  // is abandoned (events, forced end of its transactions) and the error travels on.
  const ISC_STATUS result =
      Exec(c, "UPDATE Tb_Musicas SET Mus_Compositor = 'Again' WHERE Mus_Codigo = 2");
  ASSERT_GT(result, 0);
  ASSERT_TRUE(
      db::StatusVectorHas({db::kConnectionLost, db::kNetworkReadError, db::kNetworkWriteError}));
  const EIBInterBaseError lost =
      ErrorOf<EIBInterBaseError>([&] { c.database.CheckStatus(result, true); });
  EXPECT_EQ(lost.SqlCode, -902) << lost.Message;
  EXPECT_FALSE(lost.Message.empty());
  EXPECT_FALSE(c.database.Connected());
  EXPECT_EQ(c.database.Handle(), 0u);
  EXPECT_FALSE(c.transaction.Active());
  EXPECT_EQ(disconnects, 1);

  // With the server back, the uncommitted change is not there and the database opens again.
  std::string reason;
  ASSERT_TRUE(server->Start(reason)) << reason;
  EXPECT_EQ(test::ReadStoredSongs(connectString).at(2).Compositor, std::nullopt);
  c.database.Open();
  c.transaction.Start();
  EXPECT_EQ(Exec(c, "UPDATE Tb_Musicas SET Mus_Compositor = NULL WHERE Mus_Compositor = 'Lost'"),
            0);
}

}  // namespace
