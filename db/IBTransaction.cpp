#include "db/IBTransaction.h"

#include <cstddef>

#include "db/IBDatabase.h"
#include "db/IBErrors.h"
#include "db/IBParameterBlocks.h"
#include "db/IBSQLMonitor.h"

static_assert(sizeof(db::TransactionExistenceBlock) == 3 * sizeof(void*),
              "the client reads one database pointer, a length and a TPB pointer per entry");
static_assert(offsetof(db::TransactionExistenceBlock, DatabaseHandle) == 0);
static_assert(offsetof(db::TransactionExistenceBlock, TPBLength) == sizeof(void*));
static_assert(offsetof(db::TransactionExistenceBlock, TPB) == 2 * sizeof(void*));

using db::ClientError;
using db::RaiseClientError;

TIBTransaction::TIBTransaction(std::string name) : Name(std::move(name)) {
  gdsLibrary_ = GetClientLibrary();
  gdsLibrary_->CheckClientLibraryLoaded();
}

TIBTransaction::~TIBTransaction() {
  try {
    if (Active()) EndForDatabaseClose();
  } catch (...) {
  }
  for (std::size_t i = 0; i < sqlObjects_.size(); ++i) {
    if (sqlObjects_[i] == nullptr) continue;
    try {
      sqlObjects_[i]->DoTransactionFreed();
    } catch (...) {
    }
    if (sqlObjects_[i]) RemoveSQLObject(static_cast<int>(i));
  }
  for (std::size_t i = 0; i < databases_.size(); ++i)
    if (databases_[i]) RemoveDatabase(static_cast<int>(i));
}

void TIBTransaction::SetActive(bool value) {
  if (loading_) {
    streamedActive_ = value;
    return;
  }
  if (value && !Active())
    Start();
  else if (!value && Active())
    Rollback();
}

void TIBTransaction::StartIfStreamed() {
  if (Active() || !streamedActive_) return;
  Start();
  streamedActive_ = false;
}

void TIBTransaction::SetDefaultDatabase(TIBDatabase* value) {
  if (defaultDatabase_ && defaultDatabase_ != value)
    defaultDatabase_->RemoveTransaction(defaultDatabase_->FindTransaction(this));
  if (value && defaultDatabase_ != value) {
    value->AddTransaction(this);
    AddDatabase(value);
    for (std::size_t i = 0; i < sqlObjects_.size(); ++i) {
      TIBBase* object = sqlObjects_[i];
      if (object && !object->Database() && object->Owner()) object->Owner()->SetDatabase(value);
    }
  }
  defaultDatabase_ = value;
}

void TIBTransaction::SetIdleTimer(int milliseconds) {
  if (milliseconds < 0) RaiseClientError(ClientError::TimeoutNegative);
  idleTimer_ = milliseconds;
}

void TIBTransaction::SetDefaultAction(TTransactionAction value) {
  if (value == TARollbackRetaining && gdsLibrary_->GetClientVersion() < db::kClientVersion60)
    RaiseClientError(ClientError::IB60Feature, {"isc_rollback_retaining"});
  defaultAction_ = value;
}

void TIBTransaction::SetParams(std::vector<std::string> lines) {
  if (Active()) RaiseClientError(ClientError::InTransaction);
  params_ = std::move(lines);
  paramsChanged_ = true;
}

void TIBTransaction::AddParam(std::string line) {
  if (Active()) RaiseClientError(ClientError::InTransaction);
  params_.push_back(std::move(line));
  paramsChanged_ = true;
}

void TIBTransaction::Start() {
  if (Active()) RaiseClientError(ClientError::InTransaction);
  std::vector<TIBDatabase*> databases;
  for (TIBDatabase* d : databases_)
    if (d) databases.push_back(d);
  if (databases.empty()) RaiseClientError(ClientError::NoDatabasesInTransaction);
  for (TIBDatabase* d : databases)
    if (!d->Connected() && !d->ConnectIfStreamed()) RaiseClientError(ClientError::DatabaseClosed);
  if (paramsChanged_) {
    paramsChanged_ = false;
    tpb_ = db::BuildTPB(params_);
  }
  std::vector<db::TransactionExistenceBlock> vector;
  vector.reserve(databases.size());
  for (TIBDatabase* d : databases)
    vector.push_back({d->HandleAddress(), static_cast<ISC_LONG>(tpb_.size()), tpb_.data()});
  const ISC_STATUS result =
      CheckStatus(gdsLibrary_->isc_start_multiple(db::StatusVector(), &handle_,
                                                  static_cast<short>(vector.size()), vector.data()),
                  false);
  if (result > 0) {
    handle_ = 0;
    db::RaiseServerError();
  }
  MonitorHook()->TRStart(*this);
}

void TIBTransaction::Finish(TTransactionAction action, bool force) {
  RequireActive();
  switch (action) {
    case TARollback:
    case TACommit:
      NotifyEnding();
      if (Active()) EndOnServer(action, force);
      for (std::size_t i = 0; i < sqlObjects_.size(); ++i)
        if (sqlObjects_[i]) sqlObjects_[i]->DoTransactionEnded();
      break;
    case TARollbackRetaining:
      CheckStatus(gdsLibrary_->isc_rollback_retaining(db::StatusVector(), &handle_), true);
      break;
    case TACommitRetaining:
      CheckStatus(gdsLibrary_->isc_commit_retaining(db::StatusVector(), &handle_), true);
      break;
  }
  ReportToMonitor(action);
  if (handle_ == 0) autoStarted_ = false;
}

void TIBTransaction::NotifyEnding() {
  const TAutoStopAction savedStop = AutoStopAction;
  AutoStopAction = saNone;
  try {
    for (std::size_t i = 0; i < sqlObjects_.size(); ++i)
      if (sqlObjects_[i]) sqlObjects_[i]->DoTransactionEnding();
  } catch (...) {
    AutoStopAction = savedStop;
    throw;
  }
  AutoStopAction = savedStop;
}

void TIBTransaction::EndOnServer(TTransactionAction action, bool force) {
  ISC_STATUS* status = db::StatusVector();
  ISC_STATUS result =
      action == TARollback
          ? CheckStatus(gdsLibrary_->isc_rollback_transaction(status, &handle_), false)
          : CheckStatus(gdsLibrary_->isc_commit_transaction(status, &handle_), false);
  if (force) {
    if (result > 0) gdsLibrary_->isc_rollback_transaction(status, &handle_);
    handle_ = 0;
    return;
  }
  if (result <= 0) return;
  try {
    db::RaiseServerError();
  } catch (const EIBError& e) {
    if (e.SqlCode == db::kSqlCodeNetworkError && e.ServerErrorCode == db::kNetworkRequestFailed &&
        defaultDatabase_)
      defaultDatabase_->AbortConnection();
    throw;
  }
}

void TIBTransaction::ReportToMonitor(TTransactionAction action) {
  switch (action) {
    case TACommit:
      MonitorHook()->TRCommit(*this);
      break;
    case TACommitRetaining:
      MonitorHook()->TRCommitRetaining(*this);
      break;
    case TARollback:
      MonitorHook()->TRRollback(*this);
      break;
    case TARollbackRetaining:
      MonitorHook()->TRRollbackRetaining(*this);
      break;
  }
}

void TIBTransaction::EndForDatabaseClose() {
  if (!Active()) return;
  switch (defaultAction_) {
    case TACommit:
    case TACommitRetaining:
      Finish(TACommit, true);
      break;
    case TARollback:
    case TARollbackRetaining:
      Finish(TARollback, true);
      break;
  }
}

void TIBTransaction::RequireActive() {
  if (!Active()) RaiseClientError(ClientError::NotInTransaction);
}

void TIBTransaction::AutoStart() {
  if (!AllowAutoStart) return;
  Start();
  autoStarted_ = true;
}

void TIBTransaction::CheckAutoStop() {
  if (AutoStopAction == saNone || !Active() || !autoStarted_) return;
  for (TIBBase* object : sqlObjects_)
    if (object && object->Owner() && object->Owner()->IsOpenDataSet()) return;
  switch (AutoStopAction) {
    case saNone:
      return;
    case saRollback:
      Finish(TARollback, false);
      break;
    case saCommit:
      Finish(TACommit, false);
      break;
    case saRollbackRetaining:
      Finish(TARollbackRetaining, false);
      break;
    case saCommitRetaining:
      Finish(TACommitRetaining, false);
      break;
  }
}

ISC_STATUS TIBTransaction::CheckStatus(ISC_STATUS errorCode, bool raiseError) {
  if (db::StatusVectorHas({db::kConnectionLost}) && defaultDatabase_)
    return defaultDatabase_->CheckStatus(errorCode, raiseError);
  if (raiseError && errorCode > 0) db::RaiseServerError();
  return errorCode;
}

int TIBTransaction::AddDatabase(TIBDatabase* database) {
  const int found = FindDatabase(database);
  if (found >= 0) return found;
  const int index = db::TakeSlot(databases_, database);
  database->AddTransaction(this);
  return index;
}

void TIBTransaction::RemoveDatabase(int index) {
  if (!db::ValidSlot(databases_, index)) return;
  TIBDatabase* database = databases_[index];
  databases_[index] = nullptr;
  database->RemoveTransaction(database->FindTransaction(this));
  if (defaultDatabase_ == database) defaultDatabase_ = nullptr;
}

int TIBTransaction::FindDatabase(const TIBDatabase* database) const {
  return db::FindSlot(databases_, database);
}

int TIBTransaction::AddSQLObject(TIBBase* object) {
  return db::TakeSlot(sqlObjects_, object);
}

void TIBTransaction::RemoveSQLObject(int index) {
  if (!db::ValidSlot(sqlObjects_, index)) return;
  TIBBase* object = sqlObjects_[index];
  sqlObjects_[index] = nullptr;
  object->ForgetTransaction();
}
