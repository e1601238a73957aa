#include "db/IBDatabase.h"

#include <array>
#include <cstddef>

#include "db/IBErrors.h"
#include "runtime/Text.h"

static_assert(sizeof(db::TransactionExistenceBlock) == 3 * sizeof(void*),
              "the client reads one database pointer, a length and a TPB pointer per entry");
static_assert(offsetof(db::TransactionExistenceBlock, DatabaseHandle) == 0);
static_assert(offsetof(db::TransactionExistenceBlock, TPBLength) == sizeof(void*));
static_assert(offsetof(db::TransactionExistenceBlock, TPB) == 2 * sizeof(void*));
static_assert(sizeof(isc_db_handle) == 4 && sizeof(isc_tr_handle) == 4,
              "client-API handles are 32-bit values on this platform");

using db::ClientError;
using db::RaiseClientError;

namespace {

// Database parameter names; the position (from 1) is the isc_dpb code.
constexpr std::array<const char*, 67> kDPBNames{"cdd_pathname",
                                                "allocation",
                                                "journal",
                                                "page_size",
                                                "num_buffers",
                                                "buffer_length",
                                                "debug",
                                                "garbage_collect",
                                                "verify",
                                                "sweep",
                                                "enable_journal",
                                                "disable_journal",
                                                "dbkey_scope",
                                                "number_of_users",
                                                "trace",
                                                "no_garbage_collect",
                                                "damaged",
                                                "license",
                                                "sys_user_name",
                                                "encrypt_key",
                                                "activate_shadow",
                                                "sweep_interval",
                                                "delete_shadow",
                                                "force_write",
                                                "begin_log",
                                                "quit_log",
                                                "no_reserve",
                                                "user_name",
                                                "password",
                                                "password_enc",
                                                "sys_user_name_enc",
                                                "interp",
                                                "online_dump",
                                                "old_file_size",
                                                "old_num_files",
                                                "old_file",
                                                "old_start_page",
                                                "old_start_seqno",
                                                "old_start_file",
                                                "drop_walfile",
                                                "old_dump_id",
                                                "wal_backup_dir",
                                                "wal_chkptlen",
                                                "wal_numbufs",
                                                "wal_bufsize",
                                                "wal_grp_cmt_wait",
                                                "lc_messages",
                                                "lc_ctype",
                                                "cache_manager",
                                                "shutdown",
                                                "online",
                                                "shutdown_delay",
                                                "reserved",
                                                "overwrite",
                                                "sec_attach",
                                                "disable_wal",
                                                "connect_timeout",
                                                "dummy_packet_interval",
                                                "gbak_attach",
                                                "sql_role_name",
                                                "set_page_buffers",
                                                "working_directory",
                                                "sql_dialect",
                                                "set_db_readonly",
                                                "set_db_sql_dialect",
                                                "gfix_attach",
                                                "gstat_attach"};

// Transaction parameter names; the position (from 1) is the isc_tpb code.
constexpr std::array<const char*, 20> kTPBNames{
    "consistency", "concurrency",    "shared",           "protected",
    "exclusive",   "wait",           "nowait",           "read",
    "write",       "lock_read",      "lock_write",       "verb_time",
    "commit_time", "ignore_limbo",   "read_committed",   "autocommit",
    "rec_version", "no_rec_version", "restart_requests", "no_auto_undo"};

constexpr const char* kDPBPrefix = "isc_dpb_";
constexpr const char* kTPBPrefix = "isc_tpb_";
// Both prefixes have this length.
constexpr std::size_t kParameterPrefixLength = 8;
// A clump's value length is one byte.
constexpr std::size_t kMaxClumpValueLength = 255;

// DPB codes with their own layouts.
constexpr int kDpbNumBuffers = 5;
constexpr int kDpbVerify = 9;
constexpr int kDpbSweep = 10;
constexpr int kDpbDbkeyScope = 13;
constexpr int kDpbDamaged = 17;
constexpr int kDpbLicense = 18;
constexpr int kDpbSysUserName = 19;
constexpr int kDpbEncryptKey = 20;
constexpr int kDpbActivateShadow = 21;
constexpr int kDpbSweepInterval = 22;
constexpr int kDpbDeleteShadow = 23;
constexpr int kDpbForceWrite = 24;
constexpr int kDpbBeginLog = 25;
constexpr int kDpbQuitLog = 26;
constexpr int kDpbNoReserve = 27;
constexpr int kDpbUserName = 28;
constexpr int kDpbPassword = 29;
constexpr int kDpbPasswordEnc = 30;
constexpr int kDpbLcMessages = 47;
constexpr int kDpbLcCtype = 48;
constexpr int kDpbSqlRoleName = 60;
constexpr int kDpbSqlDialect = 63;
// The value byte of isc_dpb_sweep (isc_dpb_records).
constexpr char kDpbSweepRecords = 2;

// TPB codes with their own layouts.
constexpr int kTpbLockRead = 10;
constexpr int kTpbLockWrite = 11;
constexpr int kTpbVerbTime = 12;
constexpr int kTpbCommitTime = 13;
constexpr int kTpbAutocommit = 16;

// The database-information item that answers with the SQL dialect.
constexpr char kInfoDbSQLDialect = 62;  // isc_info_db_SQL_dialect
// The answer of that single item fits easily.
constexpr std::size_t kDatabaseInfoBufferSize = 512;

template <std::size_t N>
int LookupName(const std::array<const char*, N>& names, const std::string& key) {
  for (std::size_t i = 0; i < N; ++i)
    if (key == names[i]) return static_cast<int>(i) + 1;
  return 0;
}

// Takes the lowest empty slot of a list, else appends.
template <class T>
int TakeSlot(std::vector<T*>& list, T* item) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] == nullptr) {
      list[i] = item;
      return static_cast<int>(i);
    }
  }
  list.push_back(item);
  return static_cast<int>(list.size()) - 1;
}

template <class T>
bool ValidSlot(const std::vector<T*>& list, int index) {
  return index >= 0 && static_cast<std::size_t>(index) < list.size() && list[index] != nullptr;
}

// The name part of a name=value line and whether the line had "=".
std::string NamePart(const std::string& line, bool& hasValue, std::string& value) {
  const std::size_t eq = line.find('=');
  hasValue = eq != std::string::npos;
  value = hasValue ? line.substr(eq + 1) : std::string();
  return hasValue ? line.substr(0, eq) : std::string();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Parameter blocks

namespace db {

std::string BuildDPB(const std::vector<std::string>& params) {
  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  for (const std::string& line : params) {
    bool hasValue = false;
    std::string value;
    const std::string name = NamePart(line, hasValue, value);
    if (rt::Trim(name).empty()) continue;
    std::string key = rt::LowerCase(name);
    if (key.compare(0, kParameterPrefixLength, kDPBPrefix) == 0)
      key.erase(0, kParameterPrefixLength);
    const int code = LookupName(kDPBNames, key);
    switch (code) {
      case kDpbLicense:
      case kDpbSysUserName:
      case kDpbEncryptKey:
      case kDpbUserName:
      case kDpbPassword:
      case kDpbPasswordEnc:
      case kDpbLcMessages:
      case kDpbLcCtype:
      case kDpbSqlRoleName:
      case kDpbSqlDialect: {
        // A longer value would not fit its length byte and spill into the following clumps.
        if (value.size() > kMaxClumpValueLength)
          RaiseClientError(ClientError::DPBConstantNotSupported, {kDPBNames[code - 1]});
        if (code == kDpbSqlDialect && !value.empty())
          value[0] = static_cast<char>(static_cast<unsigned char>(value[0]) - '0');
        dpb += static_cast<char>(code);
        dpb += static_cast<char>(value.size());
        dpb += value;
        break;
      }
      case kDpbNumBuffers:
      case kDpbVerify:
      case kDpbDbkeyScope:
      case kDpbDamaged:
      case kDpbForceWrite:
      case kDpbNoReserve: {
        const int32_t number = rt::StrToInt(value);
        dpb += static_cast<char>(code);
        dpb += static_cast<char>(1);
        dpb += static_cast<char>(number & 0xFF);
        break;
      }
      case kDpbSweep:
        dpb += static_cast<char>(code);
        dpb += static_cast<char>(1);
        dpb += kDpbSweepRecords;
        break;
      case kDpbActivateShadow:
      case kDpbDeleteShadow:
      case kDpbBeginLog:
      case kDpbQuitLog:
        dpb += static_cast<char>(code);
        dpb += static_cast<char>(1);
        dpb += static_cast<char>(0);
        break;
      case kDpbSweepInterval: {
        const uint32_t number = static_cast<uint32_t>(rt::StrToInt(value));
        dpb += static_cast<char>(code);
        dpb += static_cast<char>(4);
        for (int shift = 0; shift < 32; shift += 8)
          dpb += static_cast<char>((number >> shift) & 0xFF);
        break;
      }
      case 0:
        RaiseClientError(ClientError::DPBConstantUnknownEx, {name});
      default:
        RaiseClientError(ClientError::DPBConstantNotSupported, {kDPBNames[code - 1]});
    }
  }
  return dpb;
}

std::string BuildTPB(const std::vector<std::string>& params) {
  if (params.empty()) return {};
  std::string tpb(1, static_cast<char>(isc_tpb_version3));
  for (const std::string& line : params) {
    if (rt::Trim(line).empty()) continue;
    bool hasValue = false;
    std::string value;
    std::string name = NamePart(line, hasValue, value);
    if (!hasValue) name = line;
    std::string key = rt::LowerCase(name);
    if (key.compare(0, kParameterPrefixLength, kTPBPrefix) == 0)
      key.erase(0, kParameterPrefixLength);
    const int code = LookupName(kTPBNames, key);
    switch (code) {
      case 0:
        RaiseClientError(ClientError::TPBConstantUnknownEx, {name});
      case kTpbVerbTime:
      case kTpbCommitTime:
      case kTpbAutocommit:
        RaiseClientError(ClientError::TPBConstantNotSupported, {kTPBNames[code - 1]});
      case kTpbLockRead:
      case kTpbLockWrite:
        // A longer table name would not fit its length byte.
        if (value.size() > kMaxClumpValueLength)
          RaiseClientError(ClientError::TPBConstantNotSupported, {kTPBNames[code - 1]});
        tpb += static_cast<char>(code);
        tpb += static_cast<char>(value.size());
        tpb += value;
        break;
      default:
        tpb += static_cast<char>(code);
        break;
    }
  }
  return tpb;
}

}  // namespace db

// ---------------------------------------------------------------------------------------------
// TIBBase

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

// ---------------------------------------------------------------------------------------------
// TIBDatabase

TIBDatabase::TIBDatabase(std::string name) : Name(std::move(name)) {
  gdsLibrary_ = GetClientLibrary();
  gdsLibrary_->CheckClientLibraryLoaded();
  internalTransaction_ = std::make_unique<TIBTransaction>();
  internalTransaction_->SetDefaultDatabase(this);
}

TIBDatabase::~TIBDatabase() {
  try {
    idleTimer_ = 0;
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
  // The value is kept; nothing ticks: the database client has no timer service.
  idleTimer_ = milliseconds;
}

void TIBDatabase::SetSQLDialect(int value) {
  if (value < 1 || (Connected() && value > dbSQLDialect_))
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
        if (t) t->streamedActive_ = false;
    }
    if (streamedConnected_ && !Connected()) {
      SetConnected(true);
      for (TIBTransaction* t : transactions_) {
        if (t && !t->Active() && t->streamedActive_) {
          t->Start();
          t->streamedActive_ = false;
        }
      }
      if (defaultTransaction_ && defaultTransaction_->streamedActive_ &&
          !defaultTransaction_->Active())
        defaultTransaction_->Start();
      streamedConnected_ = false;
    }
  } catch (...) {
    // At run time a stored connection that fails is dropped silently; the flag stays set so
    // that the next use tries again.
  }
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
  canTimeout_ = false;
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
  return TakeSlot(sqlObjects_, object);
}

void TIBDatabase::RemoveSQLObject(int index) {
  if (!ValidSlot(sqlObjects_, index)) return;
  TIBBase* object = sqlObjects_[index];
  sqlObjects_[index] = nullptr;
  object->database_ = nullptr;
  object->indexInDatabase_ = -1;
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
  const int index = TakeSlot(transactions_, transaction);
  transaction->AddDatabase(this);
  return index;
}

void TIBDatabase::RemoveTransaction(int index) {
  if (!ValidSlot(transactions_, index)) return;
  TIBTransaction* transaction = transactions_[index];
  transactions_[index] = nullptr;
  transaction->RemoveDatabase(transaction->FindDatabase(this));
  if (defaultTransaction_ == transaction) defaultTransaction_ = nullptr;
}

int TIBDatabase::FindTransaction(const TIBTransaction* transaction) const {
  for (std::size_t i = 0; i < transactions_.size(); ++i)
    if (transactions_[i] == transaction) return static_cast<int>(i);
  return -1;
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
    bool hasValue = false;
    std::string value;
    const std::string name = NamePart(params_[i], hasValue, value);
    if (rt::LowerCase(rt::Trim(name)).compare(0, 8, "password") == 0) {
      hiddenPassword_ = value;
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
      withPassword.push_back("password=" + hiddenPassword_);
      dpb_ = db::BuildDPB(withPassword);
    } else {
      dpb_ = db::BuildDPB(params_);
    }
  }

  ISC_STATUS* status = db::StatusVector();
  const ISC_STATUS result = gdsLibrary_->isc_attach_database(
      status, static_cast<short>(databaseName_.size()), databaseName_.c_str(), &handle_,
      static_cast<short>(dpb_.size()), dpb_.data());
  if (result > 0) {
    handle_ = 0;
    db::RaiseServerError();
  }

  // The database's dialect; a server that does not answer the item speaks dialect 1.
  const char item = kInfoDbSQLDialect;
  char answer[kDatabaseInfoBufferSize] = {};
  CheckStatus(gdsLibrary_->isc_database_info(status, &handle_, 1, &item,
                                             static_cast<short>(sizeof answer), answer),
              true);
  if (answer[0] != kInfoDbSQLDialect) {
    dbSQLDialect_ = db::kDefaultDBSQLDialect;
  } else {
    const ISC_LONG length = gdsLibrary_->isc_vax_integer(answer + 1, 2);
    const std::size_t n = static_cast<std::size_t>(length);
    dbSQLDialect_ =
        (length > 0 && n <= sizeof answer - 3)
            ? static_cast<int>(gdsLibrary_->isc_vax_integer(answer + 3, static_cast<short>(n)))
            : db::kDefaultDBSQLDialect;
  }
  if (dbSQLDialect_ < sqlDialect_) {
    sqlDialect_ = dbSQLDialect_;
    if (OnDialectDowngradeWarning) OnDialectDowngradeWarning();
  }
  MonitorHook()->DBConnect(*this);
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

  if (handleIsShared_) {
    handle_ = 0;
    handleIsShared_ = false;
  } else {
    const ISC_STATUS result =
        CheckStatus(gdsLibrary_->isc_detach_database(db::StatusVector(), &handle_), false);
    if (result > 0 && !force) db::RaiseServerError();
    handle_ = 0;
  }
  MonitorHook()->DBDisconnect(*this);
  for (std::size_t i = 0; i < sqlObjects_.size(); ++i)
    if (sqlObjects_[i]) sqlObjects_[i]->DoDatabaseClosed();
}

// ---------------------------------------------------------------------------------------------
// TIBTransaction

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
  // The value is kept; nothing ticks: the database client has no timer service.
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
  for (TIBDatabase* d : databases) {
    if (d->Connected()) continue;
    if (d->streamedConnected_) {
      d->SetConnected(true);
      d->streamedConnected_ = false;
    } else {
      RaiseClientError(ClientError::DatabaseClosed);
    }
  }
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
  ISC_STATUS* status = db::StatusVector();
  switch (action) {
    case TARollback:
    case TACommit: {
      if (handleIsShared_ && action != defaultAction_ && !force)
        RaiseClientError(ClientError::CantEndSharedTransaction);
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
      if (Active()) {
        ISC_STATUS result = 0;
        if (handleIsShared_) {
          handle_ = 0;
          handleIsShared_ = false;
        } else if (action == TARollback) {
          result = CheckStatus(gdsLibrary_->isc_rollback_transaction(status, &handle_), false);
        } else {
          result = CheckStatus(gdsLibrary_->isc_commit_transaction(status, &handle_), false);
        }
        if (force && result > 0) result = gdsLibrary_->isc_rollback_transaction(status, &handle_);
        if (force) {
          handle_ = 0;
        } else if (result > 0) {
          try {
            db::RaiseServerError();
          } catch (const EIBError& e) {
            if (e.SqlCode == db::kSqlCodeNetworkError &&
                e.ServerErrorCode == db::kNetworkRequestFailed && defaultDatabase_)
              defaultDatabase_->AbortConnection();
            throw;
          }
        }
      }
      for (std::size_t i = 0; i < sqlObjects_.size(); ++i)
        if (sqlObjects_[i]) sqlObjects_[i]->DoTransactionEnded();
      break;
    }
    case TARollbackRetaining:
      CheckStatus(gdsLibrary_->isc_rollback_retaining(status, &handle_), true);
      break;
    case TACommitRetaining:
      CheckStatus(gdsLibrary_->isc_commit_retaining(status, &handle_), true);
      break;
  }
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
  if (handle_ == 0) autoStarted_ = false;
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
  for (TIBDatabase* d : databases_)
    if (d) d->canTimeout_ = false;
  canTimeout_ = false;
  if (db::StatusVectorHas({db::kConnectionLost}) && defaultDatabase_)
    return defaultDatabase_->CheckStatus(errorCode, raiseError);
  if (raiseError && errorCode > 0) db::RaiseServerError();
  return errorCode;
}

int TIBTransaction::AddDatabase(TIBDatabase* database) {
  const int found = FindDatabase(database);
  if (found >= 0) return found;
  const int index = TakeSlot(databases_, database);
  database->AddTransaction(this);
  return index;
}

void TIBTransaction::RemoveDatabase(int index) {
  if (!ValidSlot(databases_, index)) return;
  TIBDatabase* database = databases_[index];
  databases_[index] = nullptr;
  database->RemoveTransaction(database->FindTransaction(this));
  if (defaultDatabase_ == database) defaultDatabase_ = nullptr;
}

int TIBTransaction::FindDatabase(const TIBDatabase* database) const {
  for (std::size_t i = 0; i < databases_.size(); ++i)
    if (databases_[i] == database) return static_cast<int>(i);
  return -1;
}

int TIBTransaction::AddSQLObject(TIBBase* object) {
  return TakeSlot(sqlObjects_, object);
}

void TIBTransaction::RemoveSQLObject(int index) {
  if (!ValidSlot(sqlObjects_, index)) return;
  TIBBase* object = sqlObjects_[index];
  sqlObjects_[index] = nullptr;
  object->transaction_ = nullptr;
  object->indexInTransaction_ = -1;
}
