// Attachment to a database (TIBDatabase), server transactions over attached databases
// (TIBTransaction), and the link (TIBBase) through which statements and datasets hold both.
//
// Invariants:
//  - a database's handle is non-zero exactly while it is attached; a transaction's handle is
//    non-zero exactly while it is active;
//  - a database and a transaction list each other symmetrically, and a TIBBase is listed by
//    its database and its transaction exactly while it links to them; whichever side is
//    destroyed first removes itself from the other, so no list ever holds a dangling pointer;
//  - list slots of removed entries stay empty (nullptr) and are reused lowest first, so the
//    index an object was given stays valid until it leaves;
//  - destructors never throw: failures while closing are swallowed after a forced close.
#pragma once

#include <ibase.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/IBIntf.h"
#include "db/IBSQLMonitor.h"

class TIBDatabase;
class TIBTransaction;
class TIBBase;

using TNotifyEvent = std::function<void()>;

// The object that owns a TIBBase link: a statement or a dataset.
class TIBBaseOwner {
 public:
  virtual ~TIBBaseOwner() = default;
  // The owner's published Database property (a transaction hands its new default database to
  // the statements that have none through it).
  virtual void SetDatabase(TIBDatabase* value) = 0;
  // Datasets are registered as clients of the database and tell whether they are open; a
  // transaction's automatic stop waits for its open datasets.
  virtual bool IsDataSet() const { return false; }
  virtual bool IsOpenDataSet() const { return false; }
  // The database's connect (true) and disconnect (false) notification of client datasets.
  virtual void ConnectChange(bool /*connecting*/) {}
};

// The column-information cache of a database; the dataset layer provides the implementation.
class TIBSchema {
 public:
  virtual ~TIBSchema() = default;
  virtual void ClearColumnCache() = 0;
  virtual bool HasDefaultValue(const std::string& relation, const std::string& field) = 0;
  virtual bool IsComputedColumn(const std::string& relation, const std::string& field) = 0;
  virtual bool IsKeyColumn(const std::string& relation, const std::string& field) = 0;
};

// How a transaction ends when it is ended on its own (ordinals as stored).
enum TTransactionAction { TARollback, TACommit, TARollbackRetaining, TACommitRetaining };
// What ends an auto-started transaction when its last dataset closes.
enum TAutoStopAction { saNone, saRollback, saCommit, saRollbackRetaining, saCommitRetaining };

// The link of one statement or dataset to its database and transaction.
class TIBBase {
 public:
  explicit TIBBase(TIBBaseOwner* owner);
  virtual ~TIBBase();
  TIBBase(const TIBBase&) = delete;
  TIBBase& operator=(const TIBBase&) = delete;

  // Notifications, each calling its hook when set.
  virtual void DoDatabaseClosing();    // before the database detaches
  virtual void DoDatabaseClosed();     // after it detached
  virtual void DoDatabaseFreed();      // the database is destroyed; then the link drops it
  virtual void DoTransactionEnding();  // before a commit or rollback
  virtual void DoTransactionEnded();   // after it
  virtual void DoTransactionFreed();   // the transaction is destroyed; then the link drops it

  // RequireDatabase, then the address of the database's handle.
  virtual isc_db_handle* DBHandle();
  // RequireTransaction, then the address of the transaction's handle.
  virtual isc_tr_handle* TRHandle();
  virtual void SetDatabase(TIBDatabase* value);
  virtual void SetTransaction(TIBTransaction* value);
  // Client error 24 without a database, then the database's RequireOpen.
  virtual void RequireDatabase();
  // Client error 25 without a transaction, then the transaction's RequireActive.
  virtual void RequireTransaction();

  TIBBaseOwner* Owner() const { return owner_; }
  TIBDatabase* Database() const { return database_; }
  TIBTransaction* Transaction() const { return transaction_; }

  // Hooks, each a method of the owner or empty.
  TNotifyEvent OnDatabaseClosing;
  TNotifyEvent OnDatabaseClosed;
  TNotifyEvent OnDatabaseFreed;
  TNotifyEvent OnTransactionEnding;
  TNotifyEvent OnTransactionEnded;
  TNotifyEvent OnTransactionFreed;

 private:
  friend class TIBDatabase;
  friend class TIBTransaction;

  TIBBaseOwner* owner_;
  TIBDatabase* database_ = nullptr;
  int indexInDatabase_ = -1;
  TIBTransaction* transaction_ = nullptr;
  int indexInTransaction_ = -1;
};

namespace db {

// Builds the database parameter block from name=value lines (raises client errors 11 and 114,
// and the runtime's conversion error for a bad number). The length is the string's size.
std::string BuildDPB(const std::vector<std::string>& params);
// Builds the transaction parameter block (raises client errors 13 and 115); empty for no lines.
std::string BuildTPB(const std::vector<std::string>& params);

// Dialect of a database that reports none.
constexpr int kDefaultDBSQLDialect = 1;
// The dialect a new database component assumes.
constexpr int kDefaultSQLDialect = 3;

// One entry of the vector handed to isc_start_multiple, in the client library's layout.
struct TransactionExistenceBlock {
  isc_db_handle* DatabaseHandle;
  ISC_LONG TPBLength;
  const char* TPB;
};

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
  TNotifyEvent OnIdleTimer;
  TNotifyEvent OnDialectDowngradeWarning;

  // Reading the component from stored settings: between BeginLoading and Loaded, setting
  // Connected to true is only remembered; Loaded then connects (failures discarded) and starts
  // the transactions remembered as active.
  void BeginLoading() { loading_ = true; }
  void Loaded();
  bool Loading() const { return loading_; }

  // Client error 15 when not connected (after retrying a remembered stored connect).
  void RequireOpen();
  // Client error 16 when connected.
  void RequireClosed();
  // Closes at once, ignoring every failure, with the disconnect events.
  void AbortConnection();

  // Checks the result of a client-API call against the thread's status vector: a lost
  // connection closes the database; with `raiseError`, an error raises. Returns `errorCode`.
  ISC_STATUS CheckStatus(ISC_STATUS errorCode, bool raiseError);
  ISC_STATUS Call(ISC_STATUS errorCode, bool raiseError) {
    return CheckStatus(errorCode, raiseError);
  }

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
  bool HandleIsShared() const { return handleIsShared_; }

  // The DPB as built at the last attach (for inspection).
  const std::string& DPB() const { return dpb_; }

  // The column-information cache; the dataset layer installs it on first use.
  TIBSchema* Schema() const { return schema_.get(); }
  void SetSchema(std::unique_ptr<TIBSchema> schema);

  IGDSLibrary& GDSLibrary() const { return *gdsLibrary_; }

 private:
  friend class TIBTransaction;

  void DoConnect();
  void DoDisconnect();
  void CloseConnection(bool force);
  bool Login();
  void HidePassword();
  void SendConnectEvent(bool connecting);
  bool StreamedConnected() const { return streamedConnected_; }
  void ConnectStreamed();

  std::shared_ptr<IGDSLibrary> gdsLibrary_;
  isc_db_handle handle_ = 0;
  bool handleIsShared_ = false;
  std::string databaseName_;
  std::vector<std::string> params_;
  bool paramsChanged_ = true;
  std::string dpb_;
  std::string hiddenPassword_;
  TIBTransaction* defaultTransaction_ = nullptr;
  int idleTimer_ = 0;
  bool canTimeout_ = false;
  int sqlDialect_ = db::kDefaultSQLDialect;
  int dbSQLDialect_ = db::kDefaultSQLDialect;
  bool loading_ = false;
  bool streamedConnected_ = false;
  std::vector<TIBBase*> sqlObjects_;
  std::vector<TIBTransaction*> transactions_;
  std::unique_ptr<TIBTransaction> internalTransaction_;
  std::unique_ptr<TIBSchema> schema_;
};

class TIBTransaction {
 public:
  // Takes the shared client library (client error 1 when it cannot be loaded).
  explicit TIBTransaction(std::string name = {});
  ~TIBTransaction();
  TIBTransaction(const TIBTransaction&) = delete;
  TIBTransaction& operator=(const TIBTransaction&) = delete;

  std::string Name;

  // Active: setting true starts, false rolls back; while loading, true is only remembered.
  bool Active() const { return handle_ != 0; }
  void SetActive(bool value);
  bool AllowAutoStart = true;
  TIBDatabase* DefaultDatabase() const { return defaultDatabase_; }
  void SetDefaultDatabase(TIBDatabase* value);
  int IdleTimer() const { return idleTimer_; }
  void SetIdleTimer(int milliseconds);  // client error 20 when negative
  TTransactionAction DefaultAction() const { return defaultAction_; }
  void SetDefaultAction(TTransactionAction value);  // retaining rollback needs client 6.0
  const std::vector<std::string>& Params() const { return params_; }
  void SetParams(std::vector<std::string> lines);  // client error 19 while active
  void AddParam(std::string line);                 // client error 19 while active
  TAutoStopAction AutoStopAction = saNone;
  TNotifyEvent OnIdleTimer;

  void BeginLoading() { loading_ = true; }
  void Loaded() { loading_ = false; }

  void Start();
  void Commit() { Finish(TACommit, false); }
  void Rollback() { Finish(TARollback, false); }
  void CommitRetaining() { Finish(TACommitRetaining, false); }
  void RollbackRetaining() { Finish(TARollbackRetaining, false); }
  // Ends (or, retaining, keeps) the transaction; `force` ignores server failures.
  void Finish(TTransactionAction action, bool force);
  // Ending on the close of a database: a forced commit or rollback by DefaultAction.
  void EndForDatabaseClose();

  // Client error 18 when not active.
  void RequireActive();
  // Starts on behalf of a dataset when AllowAutoStart is set, remembering that it did.
  void AutoStart();
  // Ends an auto-started transaction by AutoStopAction once no open dataset uses it.
  void CheckAutoStop();
  bool AutoStarted() const { return autoStarted_; }

  ISC_STATUS CheckStatus(ISC_STATUS errorCode, bool raiseError);
  ISC_STATUS Call(ISC_STATUS errorCode, bool raiseError) {
    return CheckStatus(errorCode, raiseError);
  }

  // Databases of the transaction.
  int AddDatabase(TIBDatabase* database);
  void RemoveDatabase(int index);
  int FindDatabase(const TIBDatabase* database) const;
  int DatabaseCount() const { return static_cast<int>(databases_.size()); }
  TIBDatabase* Databases(int index) const { return databases_[index]; }

  // Statement objects running in the transaction.
  int AddSQLObject(TIBBase* object);
  void RemoveSQLObject(int index);
  int SQLObjectCount() const { return static_cast<int>(sqlObjects_.size()); }
  TIBBase* SQLObjects(int index) const { return sqlObjects_[index]; }

  isc_tr_handle Handle() const { return handle_; }
  isc_tr_handle* HandleAddress() { return &handle_; }
  bool HandleIsShared() const { return handleIsShared_; }

  // The TPB as built at the last start (for inspection).
  const std::string& TPB() const { return tpb_; }

  IGDSLibrary& GDSLibrary() const { return *gdsLibrary_; }

 private:
  friend class TIBDatabase;

  bool StreamedActive() const { return streamedActive_; }

  std::shared_ptr<IGDSLibrary> gdsLibrary_;
  isc_tr_handle handle_ = 0;
  bool handleIsShared_ = false;
  TIBDatabase* defaultDatabase_ = nullptr;
  int idleTimer_ = 0;
  bool canTimeout_ = false;
  TTransactionAction defaultAction_ = TACommit;
  std::vector<std::string> params_;
  bool paramsChanged_ = true;
  std::string tpb_;
  bool loading_ = false;
  bool streamedActive_ = false;
  bool autoStarted_ = false;
  std::vector<TIBDatabase*> databases_;
  std::vector<TIBBase*> sqlObjects_;
};
