// The main window's connection to a test database, for the suites that use the database client
// directly: DB_Kavro with the window's parameters, dialect 1 and no login prompt, and
// Trans_Kavro (read committed, record versions, no wait) on it.
#pragma once

#include <ibase.h>

#include <memory>
#include <string>
#include <vector>

#include "db/IBDatabase.h"
#include "db/IBQuery.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "tests/support/FirebirdFixture.h"

namespace test {

// The main window's transaction parameters.
std::vector<std::string> DefaultTransactionParams();

// Sets `database` up as the main window's DB_Kavro on `connectString` (a file for the embedded
// engine, "host/port:path" for a server), in SQL dialect `dialect`.
void SetUpLikeTheWindow(TIBDatabase& database, const std::string& connectString, int dialect = 1);
// Sets `transaction` up as the main window's Trans_Kavro on `database`.
void SetUpLikeTheWindow(TIBTransaction& transaction, TIBDatabase& database);

// Runs `sql` at once in `transaction` through the client library itself, so that a check does
// not depend on the statement unit; returns the call's status (0 when it succeeded).
ISC_STATUS ExecImmediate(TIBDatabase& database, TIBTransaction& transaction,
                         const std::string& sql);

// DB_Kavro and Trans_Kavro set up as the main window's, not yet attached. The destructor rolls
// back what is still active and detaches, and swallows the errors of both.
class WindowConnection {
 public:
  explicit WindowConnection(const std::string& connectString, int dialect = 1);
  ~WindowConnection();
  WindowConnection(const WindowConnection&) = delete;
  WindowConnection& operator=(const WindowConnection&) = delete;

  // A statement or a query of this database and transaction with `sql` (when not empty) as its
  // one line.
  std::unique_ptr<TIBSQL> Statement(const std::string& sql);
  std::unique_ptr<TIBQuery> Query(const std::string& sql, const std::string& name = "Q");

  TIBDatabase database{"DB_Kavro"};
  TIBTransaction transaction{"Trans_Kavro"};
};

// A suite with one fresh database for all its tests (FirebirdTest), and for each test the
// window's connection to it, attached.
class ConnectedTest : public FirebirdTest {
 protected:
  void SetUp() override { database.Open(); }

  std::unique_ptr<TIBSQL> Statement(const std::string& sql) { return connection.Statement(sql); }
  std::unique_ptr<TIBQuery> Query(const std::string& sql, const std::string& name = "Q") {
    return connection.Query(sql, name);
  }

  WindowConnection connection{Database().Path()};
  TIBDatabase& database = connection.database;
  TIBTransaction& transaction = connection.transaction;
};

}  // namespace test
