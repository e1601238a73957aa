// One server transaction over one or more attached databases (TIBTransaction): the TPB built
// from its Params, the start with isc_start_multiple, the ends by commit or rollback and the
// retaining forms that keep it alive, and the notification of the statement links that run in
// it before and after it ends.
//
// Invariants:
//  - the handle is non-zero exactly while the transaction is active;
//  - a transaction and a database list each other symmetrically: whichever side is destroyed
//    first removes itself from the other, so neither list holds a dangling pointer; the
//    statement links it lists link to it (IBBase.h);
//  - the destructor never throws: an active transaction is ended by force.
#pragma once

#include <ibase.h>

#include <memory>
#include <string>
#include <vector>

#include "db/IBBase.h"
#include "db/IBIntf.h"

class TIBDatabase;

// How a transaction ends when it is ended on its own (ordinals as stored).
enum TTransactionAction { TARollback, TACommit, TARollbackRetaining, TACommitRetaining };
// What ends an auto-started transaction when its last dataset closes.
enum TAutoStopAction { saNone, saRollback, saCommit, saRollbackRetaining, saCommitRetaining };

namespace db {

// One entry of the vector handed to isc_start_multiple, in the client library's layout.
struct TransactionExistenceBlock {
  isc_db_handle* DatabaseHandle;
  ISC_LONG TPBLength;
  const char* TPB;
};

}  // namespace db

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
  // Stored only: the database client has no timer service, so nothing ends an idle transaction.
  int IdleTimer() const { return idleTimer_; }
  void SetIdleTimer(int milliseconds);  // client error 20 when negative
  TTransactionAction DefaultAction() const { return defaultAction_; }
  void SetDefaultAction(TTransactionAction value);  // retaining rollback needs client 6.0
  const std::vector<std::string>& Params() const { return params_; }
  void SetParams(std::vector<std::string> lines);  // client error 19 while active
  void AddParam(std::string line);                 // client error 19 while active
  TAutoStopAction AutoStopAction = saNone;

  void BeginLoading() { loading_ = true; }
  void Loaded() { loading_ = false; }
  // Whether stored settings asked for the transaction to be active; the database's form-load
  // step starts it once the database has connected.
  bool StreamedActive() const { return streamedActive_; }
  // Starts the transaction when stored settings asked for it and it is not active yet; the
  // request is then forgotten.
  void StartIfStreamed();
  // Forgets the stored request (a database that does not honour stored connections).
  void ForgetStreamedActive() { streamedActive_ = false; }

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

  // A lost connection goes to the default database's CheckStatus (which closes it); otherwise,
  // with `raiseError`, an error raises. Returns `errorCode`.
  ISC_STATUS CheckStatus(ISC_STATUS errorCode, bool raiseError);

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

  // The TPB as built at the last start (for inspection).
  const std::string& TPB() const { return tpb_; }

  IGDSLibrary& GDSLibrary() const { return *gdsLibrary_; }

 private:
  // Every listed statement object's transaction-ending notification, with AutoStopAction
  // switched off meanwhile (a dataset closing on it must not end the transaction).
  void NotifyEnding();
  // Commits or rolls back on the server; `force` ignores failures and always clears the handle.
  void EndOnServer(TTransactionAction action, bool force);
  void ReportToMonitor(TTransactionAction action);

  std::shared_ptr<IGDSLibrary> gdsLibrary_;
  isc_tr_handle handle_ = 0;
  TIBDatabase* defaultDatabase_ = nullptr;
  int idleTimer_ = 0;
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
