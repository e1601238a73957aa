#include "db/IBBase.h"

#include "db/IBDatabase.h"
#include "db/IBErrors.h"
#include "db/IBTransaction.h"

using db::ClientError;
using db::RaiseClientError;

TIBBase::TIBBase(TIBBaseOwner* owner) : owner_(owner) {}

TIBBase::~TIBBase() {
  if (database_) database_->RemoveSQLObject(indexInDatabase_);
  if (transaction_) transaction_->RemoveSQLObject(indexInTransaction_);
}

void TIBBase::DoDatabaseClosing() {
  if (OnDatabaseClosing) OnDatabaseClosing();
}

void TIBBase::DoDatabaseClosed() {
  if (OnDatabaseClosed) OnDatabaseClosed();
}

void TIBBase::DoDatabaseFreed() {
  if (OnDatabaseFreed) OnDatabaseFreed();
  SetDatabase(nullptr);
}

void TIBBase::DoTransactionEnding() {
  if (OnTransactionEnding) OnTransactionEnding();
}

void TIBBase::DoTransactionEnded() {
  if (OnTransactionEnded) OnTransactionEnded();
}

void TIBBase::DoTransactionFreed() {
  if (OnTransactionFreed) OnTransactionFreed();
  SetTransaction(nullptr);
}

isc_db_handle* TIBBase::DBHandle() {
  RequireDatabase();
  return database_->HandleAddress();
}

isc_tr_handle* TIBBase::TRHandle() {
  RequireTransaction();
  return transaction_->HandleAddress();
}

void TIBBase::SetDatabase(TIBDatabase* value) {
  if (database_) database_->RemoveSQLObject(indexInDatabase_);
  database_ = value;
  indexInDatabase_ = -1;
  if (value) {
    indexInDatabase_ = value->AddSQLObject(this);
    if (!transaction_) SetTransaction(value->FindDefaultTransaction());
  }
}

void TIBBase::SetTransaction(TIBTransaction* value) {
  if (transaction_) transaction_->RemoveSQLObject(indexInTransaction_);
  transaction_ = value;
  indexInTransaction_ = -1;
  if (value) {
    indexInTransaction_ = value->AddSQLObject(this);
    if (!database_) {
      TIBDatabase* database = value->DefaultDatabase();
      for (int i = 0; !database && i < value->DatabaseCount(); ++i) {
        TIBDatabase* listed = value->Databases(i);
        if (listed && listed->DefaultTransaction() == value) database = listed;
      }
      if (database) SetDatabase(database);
    }
  }
}

void TIBBase::RequireDatabase() {
  if (!database_) RaiseClientError(ClientError::DatabaseNotAssigned);
  database_->RequireOpen();
}

void TIBBase::RequireTransaction() {
  if (!transaction_) RaiseClientError(ClientError::TransactionNotAssigned);
  transaction_->RequireActive();
}

void TIBBase::ForgetDatabase() {
  database_ = nullptr;
  indexInDatabase_ = -1;
}

void TIBBase::ForgetTransaction() {
  transaction_ = nullptr;
  indexInTransaction_ = -1;
}
