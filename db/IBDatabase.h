// Attachment to one database (TIBDatabase): the connection settings, attach and detach, the
// database's SQL dialect, and the lists of the transactions and statement links that work
// through it, so that closing can end and notify them in order.
//
// Invariants:
//  - the handle is non-zero exactly while the database is attached;
//  - a database and a transaction list each other symmetrically (IBTransaction.h), and the
//    statement links it lists link to it (IBBase.h);
//  - the destructor never throws: failures while closing are swallowed after a forced close.
#pragma once

#include <ibase.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/IBBase.h"
#include "db/IBIntf.h"
#include "db/IBSQLMonitor.h"

class TIBTransaction;
class TIBSchema;

namespace db {

// Dialect of a database that reports none.
constexpr int kDefaultDBSQLDialect = SQL_DIALECT_V5;
// The dialect a new database component assumes.
constexpr int kDefaultSQLDialect = SQL_DIALECT_V6;

}  // namespace db

class TIBDatabase {
 public:
  using TLoginEvent = std::function<void(TIBDatabase& database, std::vector<std::string>& params)>;

  // Takes the shared client library (client error 1 when it cannot be loaded), sets the
  // defaults, and creates the internal transaction.
  explicit TIBDatabase(std::string name = {});
  ~TIBDatabase();
  TIBDatabase(const TIBDatabase&) = delete;
  TIBDatabase& operator=(const TIBDatabase&) = delete;

  // The component's name (used in trace texts).
  std::string Name;

  // Connected: setting true attaches, false detaches; equal values do nothing.
  bool Connected() const { return handle_ != 0; }
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& value);  // client error 16 while connected

  const std::vector<std::string>& Params() const { return params_; }
  void SetParams(std::vector<std::string> lines);  // client error 16 while connected
  void AddParam(std::string line);                 // client error 16 while connected

  bool LoginPrompt = true;
  TIBTransaction* DefaultTransaction() const { return defaultTransaction_; }
  void SetDefaultTransaction(TIBTransaction* value);
  // Stored only: the database client has no timer service, so nothing closes an idle database.
  int IdleTimer() const { return idleTimer_; }
  void SetIdleTimer(int milliseconds);  // client error 20 when negative
  int SQLDialect() const { return sqlDialect_; }
  void SetSQLDialect(int value);  // client error 87 below 1 or, connected, above DBSQLDialect
  int DBSQLDialect() const { return dbSQLDialect_; }
  TTraceFlags TraceFlags = 0;
  bool AllowStreamedConnected = true;

  TNotifyEvent BeforeConnect;
  TNotifyEvent AfterConnect;
  TNotifyEvent BeforeDisconnect;
  TNotifyEvent AfterDisconnect;
  TLoginEvent OnLogin;
  TNotifyEvent OnDialectDowngradeWarning;

  // Reading the component from stored settings: between BeginLoading and Loaded, setting
  // Connected to true is only remembered; Loaded then connects (failures discarded) and starts
  // the transactions remembered as active.
  void BeginLoading() { loading_ = true; }
  void Loaded();
  bool Loading() const { return loading_; }
  // A connection that stored settings asked for and that has not happened yet is made now and
  // forgotten; false when none was asked for. A transaction starting over this database uses it.
  bool ConnectIfStreamed();

  // Client error 15 when not connected (after retrying a remembered stored connect).
  void RequireOpen();
  // Client error 16 when connected.
  void RequireClosed();
  // Closes at once, ignoring every failure, with the disconnect events.
  void AbortConnection();

  // Checks the result of a client-API call against the thread's status vector: a lost
  // connection closes the database; with `raiseError`, an error raises. Returns `errorCode`.
  ISC_STATUS CheckStatus(ISC_STATUS errorCode, bool raiseError);

  // Statement objects (TIBBase links) working through this database.
  int AddSQLObject(TIBBase* object);
  void RemoveSQLObject(int index);
  int SQLObjectCount() const { return static_cast<int>(sqlObjects_.size()); }
  TIBBase* SQLObjects(int index) const { return sqlObjects_[index]; }

  // Transactions over this database. AddTransaction returns -1 for one already listed.
  int AddTransaction(TIBTransaction* transaction);
  void RemoveTransaction(int index);
  int FindTransaction(const TIBTransaction* transaction) const;
  int TransactionCount() const { return static_cast<int>(transactions_.size()); }
  TIBTransaction* Transactions(int index) const { return transactions_[index]; }
  // DefaultTransaction, else the first listed transaction whose default database is this one
  // (other than the internal transaction), else none.
  TIBTransaction* FindDefaultTransaction() const;
  TIBTransaction* InternalTransaction() const { return internalTransaction_.get(); }

  // The attachment handle (0 while closed) and its address for client-API calls.
  isc_db_handle Handle() const { return handle_; }
  isc_db_handle* HandleAddress() { return &handle_; }

  // The DPB as built at the last attach (for inspection).
  const std::string& DPB() const { return dpb_; }

  // The column-information cache; the dataset layer installs it on first use.
  TIBSchema* Schema() const { return schema_.get(); }
  void SetSchema(std::unique_ptr<TIBSchema> schema);

  IGDSLibrary& GDSLibrary() const { return *gdsLibrary_; }

 private:
  void DoConnect();
  // Reads the dialect the server reports for the attached database into dbSQLDialect_.
  void ReadDBSQLDialect();
  void DoDisconnect();
  void CloseConnection(bool force);
  bool Login();
  void HidePassword();
  void SendConnectEvent(bool connecting);
  void ConnectStreamed();

  std::shared_ptr<IGDSLibrary> gdsLibrary_;
  isc_db_handle handle_ = 0;
  std::string databaseName_;
  std::vector<std::string> params_;
  bool paramsChanged_ = true;
  std::string dpb_;
  std::string hiddenPassword_;
  TIBTransaction* defaultTransaction_ = nullptr;
  int idleTimer_ = 0;
  int sqlDialect_ = db::kDefaultSQLDialect;
  int dbSQLDialect_ = db::kDefaultSQLDialect;
  bool loading_ = false;
  bool streamedConnected_ = false;
  std::vector<TIBBase*> sqlObjects_;
  std::vector<TIBTransaction*> transactions_;
  std::unique_ptr<TIBTransaction> internalTransaction_;
  std::unique_ptr<TIBSchema> schema_;
};
