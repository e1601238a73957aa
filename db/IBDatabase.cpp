#include "db/IBDatabase.h"

#include <cstddef>
#include <string_view>

#include "db/IBErrors.h"
#include "db/IBParameterBlocks.h"
#include "db/IBSchema.h"
#include "db/IBTransaction.h"
#include "runtime/Text.h"

static_assert(sizeof(isc_db_handle) == 4 && sizeof(isc_tr_handle) == 4,
              "client-API handles are 32-bit values on this platform");

using db::ClientError;
using db::RaiseClientError;

namespace {

// The answer to the dialect question is one short information clump.
constexpr std::size_t kDatabaseInfoBufferSize = 512;
// Params lines whose trimmed, lower-cased name starts with this hold the password.
constexpr std::string_view kPasswordParam = "password";

}  // namespace

TIBDatabase::TIBDatabase(std::string name) : Name(std::move(name)) {
  gdsLibrary_ = GetClientLibrary();
  gdsLibrary_->CheckClientLibraryLoaded();
  internalTransaction_ = std::make_unique<TIBTransaction>();
  internalTransaction_->SetDefaultDatabase(this);
}

TIBDatabase::~TIBDatabase() {
  try {
    if (Connected()) {
      try {
        SetConnected(false);
      } catch (...) {
        AbortConnection();
      }
    }
  } catch (...) {
  }
  try {
    if (schema_) schema_->ClearColumnCache();
  } catch (...) {
  }
  schema_.reset();
  for (std::size_t i = 0; i < sqlObjects_.size(); ++i) {
    if (sqlObjects_[i] == nullptr) continue;
    try {
      sqlObjects_[i]->DoDatabaseFreed();
    } catch (...) {
    }
    // The notification leaves the list through SetDatabase; a link that overrides it and
    // stays is dropped here so that nothing keeps pointing at this database.
    if (sqlObjects_[i]) RemoveSQLObject(static_cast<int>(i));
  }
  for (std::size_t i = 0; i < transactions_.size(); ++i)
    if (transactions_[i]) RemoveTransaction(static_cast<int>(i));
  internalTransaction_.reset();
}

void TIBDatabase::SetConnected(bool value) {
  if (loading_ && value) {
    streamedConnected_ = true;
    return;
  }
  if (value == Connected()) return;
  if (value) {
    if (BeforeConnect) BeforeConnect();
    DoConnect();
    SendConnectEvent(true);
    if (AfterConnect) AfterConnect();
  } else {
    if (BeforeDisconnect) BeforeDisconnect();
    SendConnectEvent(false);
    DoDisconnect();
    if (AfterDisconnect) AfterDisconnect();
  }
}

void TIBDatabase::SetDatabaseName(const std::string& value) {
  if (value == databaseName_) return;
  RequireClosed();
  databaseName_ = value;
  if (schema_) schema_->ClearColumnCache();
}

void TIBDatabase::SetParams(std::vector<std::string> lines) {
  RequireClosed();
  params_ = std::move(lines);
  paramsChanged_ = true;
}

void TIBDatabase::AddParam(std::string line) {
  RequireClosed();
  params_.push_back(std::move(line));
  paramsChanged_ = true;
}

void TIBDatabase::SetDefaultTransaction(TIBTransaction* value) {
  if (defaultTransaction_ && defaultTransaction_ != value &&
      defaultTransaction_->DefaultDatabase() != this)
    RemoveTransaction(FindTransaction(defaultTransaction_));
  if (value) {
    AddTransaction(value);
    value->AddDatabase(this);
  }
  defaultTransaction_ = value;
}

void TIBDatabase::SetIdleTimer(int milliseconds) {
  if (milliseconds < 0) RaiseClientError(ClientError::TimeoutNegative);
  idleTimer_ = milliseconds;
}

void TIBDatabase::SetSQLDialect(int value) {
  if (value < SQL_DIALECT_V5 || (Connected() && value > dbSQLDialect_))
    RaiseClientError(ClientError::SQLDialectInvalid);
  sqlDialect_ = value;
}

void TIBDatabase::Loaded() {
  loading_ = false;
  ConnectStreamed();
}

void TIBDatabase::ConnectStreamed() {
  try {
    if (!AllowStreamedConnected) {
      streamedConnected_ = false;
      for (TIBTransaction* t : transactions_)
        if (t) t->ForgetStreamedActive();
    }
    if (streamedConnected_ && !Connected()) {
      SetConnected(true);
      for (TIBTransaction* t : transactions_)
        if (t) t->StartIfStreamed();
      if (defaultTransaction_ && defaultTransaction_->StreamedActive() &&
          !defaultTransaction_->Active())
        defaultTransaction_->Start();
      streamedConnected_ = false;
    }
  } catch (...) {
    // At run time a stored connection that fails is dropped silently; the flag stays set so
    // that the next use tries again.
  }
}

bool TIBDatabase::ConnectIfStreamed() {
  if (!streamedConnected_) return false;
  SetConnected(true);
  streamedConnected_ = false;
  return true;
}

void TIBDatabase::RequireOpen() {
  if (streamedConnected_ && !Connected()) ConnectStreamed();
  if (!Connected()) RaiseClientError(ClientError::DatabaseClosed);
}

void TIBDatabase::RequireClosed() {
  if (Connected()) RaiseClientError(ClientError::DatabaseOpen);
}

void TIBDatabase::AbortConnection() {
  if (!Connected()) return;
  if (BeforeDisconnect) BeforeDisconnect();
  SendConnectEvent(false);
  CloseConnection(true);
  if (AfterDisconnect) AfterDisconnect();
}

ISC_STATUS TIBDatabase::CheckStatus(ISC_STATUS errorCode, bool raiseError) {
  if (raiseError &&
      db::StatusVectorHas({db::kConnectionLost, db::kNetworkReadError, db::kNetworkWriteError})) {
    db::ServerError error = db::BuildServerError();
    AbortConnection();
    MonitorHook()->SendError(error.Message, *this);
    throw EIBInterBaseError(error.SqlCode, error.ServerErrorCode, std::move(error.Message));
  }
  if (raiseError && errorCode > 0) db::RaiseServerError();
  return errorCode;
}

int TIBDatabase::AddSQLObject(TIBBase* object) {
  return db::TakeSlot(sqlObjects_, object);
}

void TIBDatabase::RemoveSQLObject(int index) {
  if (!db::ValidSlot(sqlObjects_, index)) return;
  TIBBase* object = sqlObjects_[index];
  sqlObjects_[index] = nullptr;
  object->ForgetDatabase();
}

void TIBDatabase::SendConnectEvent(bool connecting) {
  // The client datasets are the listed links whose owner is a dataset. A notification may
  // close a dataset, which leaves the list untouched (closing keeps the link).
  for (std::size_t i = 0; i < sqlObjects_.size(); ++i) {
    TIBBase* object = sqlObjects_[i];
    if (object && object->Owner() && object->Owner()->IsDataSet())
      object->Owner()->ConnectChange(connecting);
  }
}

int TIBDatabase::AddTransaction(TIBTransaction* transaction) {
  if (FindTransaction(transaction) >= 0) return -1;
  const int index = db::TakeSlot(transactions_, transaction);
  transaction->AddDatabase(this);
  return index;
}

void TIBDatabase::RemoveTransaction(int index) {
  if (!db::ValidSlot(transactions_, index)) return;
  TIBTransaction* transaction = transactions_[index];
  transactions_[index] = nullptr;
  transaction->RemoveDatabase(transaction->FindDatabase(this));
  if (defaultTransaction_ == transaction) defaultTransaction_ = nullptr;
}

int TIBDatabase::FindTransaction(const TIBTransaction* transaction) const {
  return db::FindSlot(transactions_, transaction);
}

TIBTransaction* TIBDatabase::FindDefaultTransaction() const {
  if (defaultTransaction_) return defaultTransaction_;
  for (TIBTransaction* t : transactions_)
    if (t && t->DefaultDatabase() == this && t != internalTransaction_.get()) return t;
  return nullptr;
}

void TIBDatabase::SetSchema(std::unique_ptr<TIBSchema> schema) {
  schema_ = std::move(schema);
}

bool TIBDatabase::Login() {
  if (OnLogin) {
    std::vector<std::string> loginParams = params_;
    OnLogin(*this, loginParams);
    params_ = std::move(loginParams);
    paramsChanged_ = true;
    HidePassword();
    return true;
  }
  // There is no login dialog in this program.
  const std::string message =
      "Can not find default login prompt dialog.  Please add DBLogDlg to the uses section of "
      "your main file.";
  MonitorHook()->SendError(message, *this);
  throw EIBError(message);
}

void TIBDatabase::HidePassword() {
  for (std::size_t i = 0; i < params_.size(); ++i) {
    const db::ParameterLine parts = db::SplitParameterLine(params_[i]);
    if (rt::LowerCase(rt::Trim(parts.Name)).compare(0, kPasswordParam.size(), kPasswordParam) ==
        0) {
      hiddenPassword_ = parts.Value;
      params_.erase(params_.begin() + static_cast<std::ptrdiff_t>(i));
      paramsChanged_ = true;
      return;
    }
  }
}

void TIBDatabase::DoConnect() {
  RequireClosed();
  if (databaseName_.empty()) RaiseClientError(ClientError::DatabaseNameMissing);
  if (!LoginPrompt && !hiddenPassword_.empty()) {
    hiddenPassword_.clear();
    paramsChanged_ = true;
  }
  if (LoginPrompt && !Login()) RaiseClientError(ClientError::OperationCancelled);
  if (paramsChanged_) {
    paramsChanged_ = false;
    if (LoginPrompt && !hiddenPassword_.empty()) {
      std::vector<std::string> withPassword = params_;
      withPassword.push_back(std::string(kPasswordParam) + "=" + hiddenPassword_);
      dpb_ = db::BuildDPB(withPassword);
    } else {
      dpb_ = db::BuildDPB(params_);
    }
  }

  const ISC_STATUS result = gdsLibrary_->isc_attach_database(
      db::StatusVector(), static_cast<short>(databaseName_.size()), databaseName_.c_str(), &handle_,
      static_cast<short>(dpb_.size()), dpb_.data());
  if (result > 0) {
    handle_ = 0;
    db::RaiseServerError();
  }
  ReadDBSQLDialect();
  if (dbSQLDialect_ < sqlDialect_) {
    sqlDialect_ = dbSQLDialect_;
    if (OnDialectDowngradeWarning) OnDialectDowngradeWarning();
  }
  MonitorHook()->DBConnect(*this);
}

void TIBDatabase::ReadDBSQLDialect() {
  // A server that does not answer the item speaks the oldest dialect.
  const char item = isc_info_db_sql_dialect;
  char answer[kDatabaseInfoBufferSize] = {};
  CheckStatus(gdsLibrary_->isc_database_info(db::StatusVector(), &handle_, sizeof item, &item,
                                             static_cast<short>(sizeof answer), answer),
              true);
  if (answer[0] != item) {
    dbSQLDialect_ = db::kDefaultDBSQLDialect;
    return;
  }
  const ISC_LONG length =
      gdsLibrary_->isc_vax_integer(answer + db::kInfoLengthOffset, db::kInfoLengthSize);
  const std::size_t n = static_cast<std::size_t>(length);
  dbSQLDialect_ = (length > 0 && n <= sizeof answer - db::kInfoValueOffset)
                      ? static_cast<int>(gdsLibrary_->isc_vax_integer(answer + db::kInfoValueOffset,
                                                                      static_cast<short>(n)))
                      : db::kDefaultDBSQLDialect;
}

void TIBDatabase::DoDisconnect() {
  if (Connected()) CloseConnection(false);
  dbSQLDialect_ = db::kDefaultDBSQLDialect;
}

void TIBDatabase::CloseConnection(bool force) {
  RequireOpen();
  const isc_db_handle saved = handle_;
  if (force) handle_ = 0;
  auto restore = [&] {
    if (force) handle_ = saved;
  };
  for (std::size_t i = 0; i < sqlObjects_.size(); ++i) {
    if (!sqlObjects_[i]) continue;
    try {
      sqlObjects_[i]->DoDatabaseClosing();
    } catch (...) {
      if (!force) {
        restore();
        throw;
      }
    }
  }
  for (std::size_t i = 0; i < transactions_.size(); ++i) {
    if (!transactions_[i]) continue;
    try {
      transactions_[i]->EndForDatabaseClose();
    } catch (...) {
      if (!force) {
        restore();
        throw;
      }
    }
  }
  restore();

  const ISC_STATUS result =
      CheckStatus(gdsLibrary_->isc_detach_database(db::StatusVector(), &handle_), false);
  if (result > 0 && !force) db::RaiseServerError();
  handle_ = 0;
  MonitorHook()->DBDisconnect(*this);
  for (std::size_t i = 0; i < sqlObjects_.size(); ++i)
    if (sqlObjects_[i]) sqlObjects_[i]->DoDatabaseClosed();
}
