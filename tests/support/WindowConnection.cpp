#include "tests/support/WindowConnection.h"

#include "db/IBErrors.h"

namespace test {

std::vector<std::string> DefaultTransactionParams() {
  return {"read_committed", "rec_version", "nowait"};
}

void SetUpLikeTheWindow(TIBDatabase& database, const std::string& connectString, int dialect) {
  database.SetDatabaseName(connectString);
  database.SetParams(DefaultDatabaseParams());
  database.LoginPrompt = false;
  database.SetSQLDialect(dialect);
}

void SetUpLikeTheWindow(TIBTransaction& transaction, TIBDatabase& database) {
  transaction.SetParams(DefaultTransactionParams());
  transaction.SetDefaultDatabase(&database);
}

ISC_STATUS ExecImmediate(TIBDatabase& database, TIBTransaction& transaction,
                         const std::string& sql) {
  return database.GDSLibrary().isc_dsql_execute_immediate(
      db::StatusVector(), database.HandleAddress(), transaction.HandleAddress(), 0, sql.c_str(), 1,
      nullptr);
}

WindowConnection::WindowConnection(const std::string& connectString, int dialect) {
  SetUpLikeTheWindow(database, connectString, dialect);
  SetUpLikeTheWindow(transaction, database);
}

WindowConnection::~WindowConnection() {
  try {
    if (transaction.Active()) transaction.Rollback();
    database.Close();
  } catch (...) {
  }
}

std::unique_ptr<TIBSQL> WindowConnection::Statement(const std::string& sql) {
  auto statement = std::make_unique<TIBSQL>(&database);
  statement->SetTransaction(&transaction);
  if (!sql.empty()) statement->SetSQL({sql});
  return statement;
}

std::unique_ptr<TIBQuery> WindowConnection::Query(const std::string& sql, const std::string& name) {
  auto query = std::make_unique<TIBQuery>(name);
  query->SetDatabase(&database);
  query->SetTransaction(&transaction);
  if (!sql.empty()) query->SQL().Add(sql);
  return query;
}

}  // namespace test
