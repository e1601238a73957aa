#include "db/IBSQL.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <random>

#include "db/IBErrors.h"
#include "db/IBSQLMonitor.h"
#include "db/IBTransaction.h"
#include "runtime/Text.h"

namespace {

// Answer buffer of the statement-type question: item, two length bytes, up to four value bytes.
constexpr short kStatementTypeBufferSize = 8;
// Answer buffer of the plan question; a longer plan is reported as not retrievable.
constexpr short kPlanBufferSize = 16384;
// Answer buffer of the affected-rows question (four 7-byte counts after a 3-byte head, with
// room for what newer servers add).
constexpr short kRecordsBufferSize = 1049;
// The affected-rows answer holds, after its own item and length, one clump per count: the
// count's item (isc_info_req_update_count and so on), a 2-byte length and the 4-byte count, in
// the order update, delete, select, insert.
constexpr int kCountClumpSize = db::kInfoValueOffset + static_cast<int>(sizeof(int32_t));
constexpr int CountOffset(int position) {
  return db::kInfoValueOffset + position * kCountClumpSize + db::kInfoValueOffset;
}
constexpr int kUpdateCountOffset = CountOffset(0);
constexpr int kDeleteCountOffset = CountOffset(1);
constexpr int kInsertCountOffset = CountOffset(3);
// What isc_dsql_fetch returns past the last row (the header names no constant for it).
constexpr ISC_STATUS kFetchEndOfData = 100;
// The cursor type isc_dsql_set_cursor_name takes (the client API reserves the argument; 0).
constexpr unsigned short kCursorType = 0;
// Largest segment written to a blob at once (the client API takes a 16-bit length).
constexpr std::size_t kBlobSegmentSize = 32768;
// Read buffer for blob segments.
constexpr unsigned short kBlobReadSize = 32768;
// Placeholder names generated for "?" when GenerateParamNames is set.
constexpr const char* kGeneratedParamPrefix = "IBParam";

bool IsNameChar(int c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$';
}

[[noreturn]] void ParseError(db::ClientError detail) {
  db::RaiseClientError(db::ClientError::SQLParseError,
                       {db::ClientErrorText(static_cast<int>(detail))});
}

// A random GUID in its standard text form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string NewGuidText() {
  std::random_device device;
  std::array<unsigned char, 16> b{};
  for (std::size_t i = 0; i < b.size(); i += 4) {
    uint32_t r = device();
    for (std::size_t k = 0; k < 4; ++k) b[i + k] = static_cast<unsigned char>(r >> (8 * k));
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4: random
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // variant 1
  char text[40];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return text;
}

int32_t LittleEndian32(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return static_cast<int32_t>(v);
}

}  // namespace

std::string NormalizeIdentifier(int dialect, std::string_view name) {
  std::string trimmed = rt::Trim(name);
  if (dialect == SQL_DIALECT_V5) return rt::UpperCase(trimmed);
  if (!trimmed.empty() && trimmed[0] == '"') {
    std::string inner = trimmed.size() >= 2 ? trimmed.substr(1, trimmed.size() - 2) : "";
    return rt::ReplaceAll(inner, "\"\"", "\"");
  }
  return rt::UpperCase(trimmed);
}

std::string QuoteName(int dialect, std::string_view name) {
  if (dialect == SQL_DIALECT_V5) return rt::UpperCase(rt::Trim(name));
  return "\"" + rt::ReplaceAll(name, "\"", "\"\"") + "\"";
}

// ---------------------------------------------------------------------------------------------

TIBSQL::TIBSQL() : gds_(GetClientLibrary()), base_(this) {
  gds_->CheckClientLibraryLoaded();
  Init();
}

TIBSQL::TIBSQL(TIBDatabase* owner) : TIBSQL() {
  if (owner) SetDatabase(owner);
}

TIBSQL::TIBSQL(TIBTransaction* owner) : TIBSQL() {
  if (owner) SetTransaction(owner);
}

void TIBSQL::Init() {
  sqlda_ = std::make_unique<TIBXSQLDA>(this);
  sqlda2_ = std::make_unique<TIBXSQLDA>(this);
  cursorName_ = NewGuidText();
  base_.OnDatabaseClosing = [this] { DatabaseClosing(); };
  base_.OnTransactionEnding = [this] { TransactionEnding(); };
}

TIBSQL::~TIBSQL() {
  try {
    if (open_) Close();
  } catch (...) {
  }
  try {
    ReleaseHandle();
  } catch (...) {
  }
  base_.OnDatabaseClosing = nullptr;
  base_.OnTransactionEnding = nullptr;
}

void TIBSQL::DatabaseClosing() {
  if (open_) Close();
  ReleaseHandle();
}

void TIBSQL::TransactionEnding() {
  if (open_) Close();
}

int TIBSQL::Dialect() const {
  return Database() ? Database()->SQLDialect() : kDefaultDialect;
}

ISC_STATUS TIBSQL::Check(ISC_STATUS status, bool raiseError) {
  if (Database()) return Database()->CheckStatus(status, raiseError);
  if (raiseError && status > 0) db::RaiseServerError();
  return status;
}

void TIBSQL::SetDatabase(TIBDatabase* value) {
  if (value == Database()) return;
  if (prepared_) ReleaseHandle();
  base_.SetDatabase(value);
}

void TIBSQL::SetTransaction(TIBTransaction* value) {
  if (value == Transaction()) return;
  if (prepared_) ReleaseHandle();
  base_.SetTransaction(value);
}

std::string TIBSQL::SQLText() const {
  std::string text;
  for (const std::string& line : sql_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TIBSQL::SetSQL(std::vector<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  if (text == SQLText()) return;
  if (OnSQLChanging) OnSQLChanging();
  if (handle_ != 0) ReleaseHandle();
  sql_ = std::move(lines);
}

// One pass with a one-character look-ahead; the states are plain text, a comment, a string
// literal (or quoted identifier) and a parameter name.
std::string TIBSQL::PreprocessSQL(std::string_view text, bool generateParamNames,
                                  std::vector<std::string>& names) {
  enum class State { Normal, Comment, String, Param };
  constexpr int kEnd = -1;  // the look-ahead past the last character
  auto at = [&](std::size_t i) -> int {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : kEnd;
  };
  std::string out;
  out.reserve(text.size());
  State state = State::Normal;
  int quote = 0;
  bool quotedName = false;
  std::string name;
  int generated = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int cur = at(i);
    const int next = at(i + 1);
    switch (state) {
      case State::Normal:
        if (cur == '\'' || cur == '"') {
          quote = cur;
          state = State::String;
          out += char(cur);
        } else if (cur == ':' || cur == '?') {
          out += '?';
          state = State::Param;
          name.clear();
          quotedName = false;
        } else if (cur == '/' && next == '*') {
          out += "/*";
          ++i;
          state = State::Comment;
        } else {
          out += char(cur);
        }
        break;
      case State::Comment:
        if (next == kEnd) ParseError(db::ClientError::EOFInComment);
        if (cur == '*' && next == '/') state = State::Normal;
        out += char(cur);
        break;
      case State::String:
        if (next == kEnd) ParseError(db::ClientError::EOFInString);
        out += char(cur);
        if (cur == quote) {
          if (next == quote) {
            // A doubled quote stands for one quote inside the literal; both stay in the text.
            out += char(next);
            ++i;
          } else {
            state = State::Normal;
          }
        }
        break;
      case State::Param:
        if (quotedName) {
          if (cur == '"') {
            names.push_back(name);
            state = State::Normal;
            ++i;  // the character after the closing quote is written unexamined
            if (i < text.size()) out += text[i];
          } else {
            name += char(cur);
          }
          break;
        }
        if (cur == '"') {
          quotedName = true;
          break;
        }
        if (!IsNameChar(cur)) {
          if (!generateParamNames) ParseError(db::ClientError::ParamNameExpected);
          names.push_back(kGeneratedParamPrefix + rt::IntToStr(generated++));
          state = State::Normal;
          out += char(cur);
          break;
        }
        name += char(cur);
        if (!IsNameChar(next)) {
          names.push_back(name);
          state = State::Normal;
          if (next != kEnd) {
            out += char(next);  // written unexamined
            ++i;
          }
        }
        break;
    }
  }
  // Text that ends inside a construct: the same errors as when the end is seen from within.
  if (state == State::Comment) ParseError(db::ClientError::EOFInComment);
  if (state == State::String || (state == State::Param && quotedName))
    ParseError(db::ClientError::EOFInString);
  if (state == State::Param) {
    if (!generateParamNames) ParseError(db::ClientError::ParamNameExpected);
    names.push_back(kGeneratedParamPrefix + rt::IntToStr(generated++));
  }
  return out;
}

void TIBSQL::Prepare() {
  if (open_) db::RaiseClientError(db::ClientError::SQLOpen);
  base_.RequireDatabase();
  base_.RequireTransaction();
  if (prepared_) return;
  std::string text = SQLText();
  if (text.empty()) db::RaiseClientError(db::ClientError::EmptyQuery);
  if (ParamCheck) {
    std::vector<std::string> names;
    processedSQL_ = PreprocessSQL(text, GenerateParamNames, names);
    sqlda_->SetCount(static_cast<int>(names.size()));
    for (std::size_t i = 0; i < names.size(); ++i)
      sqlda_->SetParamName(names[i], static_cast<int>(i));
  } else {
    processedSQL_ = text;
  }
  if (processedSQL_.empty()) db::RaiseClientError(db::ClientError::EmptyQuery);
  try {
    DoPrepare();
  } catch (...) {
    if (handle_ != 0) {
      ISC_STATUS_ARRAY ignored{};
      gds_->isc_dsql_free_statement(ignored, &handle_, DSQL_drop);
      handle_ = 0;
    }
    sqlType_ = SQLUnknown;
    throw;
  }
}

void TIBSQL::DoPrepare() {
  ISC_STATUS* status = db::StatusVector();
  const unsigned short dialect = static_cast<unsigned short>(Dialect());
  Check(gds_->isc_dsql_alloc_statement2(status, base_.DBHandle(), &handle_), true);
  Check(gds_->isc_dsql_prepare(status, base_.TRHandle(), &handle_, 0, processedSQL_.c_str(),
                               dialect, nullptr),
        true);
  const char item = isc_info_sql_stmt_type;
  char answer[kStatementTypeBufferSize] = {};
  Check(gds_->isc_dsql_sql_info(status, &handle_, sizeof item, &item, kStatementTypeBufferSize,
                                answer),
        true);
  if (answer[0] != item) db::RaiseClientError(db::ClientError::UnknownError);
  int length = gds_->isc_vax_integer(answer + db::kInfoLengthOffset, db::kInfoLengthSize);
  length = std::clamp(length, 0, kStatementTypeBufferSize - db::kInfoValueOffset);
  sqlType_ =
      static_cast<TIBSQLTypes>(gds_->isc_vax_integer(answer + db::kInfoValueOffset, short(length)));
  switch (sqlType_) {
    case SQLGetSegment:
    case SQLPutSegment:
    case SQLStartTransaction:
      ReleaseHandle();
      sqlType_ = SQLUnknown;
      db::RaiseClientError(db::ClientError::NotPermitted);
    case SQLSelect:
    case SQLInsert:
    case SQLUpdate:
    case SQLDelete:
    case SQLDDL:
    case SQLExecProcedure:
    case SQLCommit:
    case SQLRollback:
    case SQLSelectForUpdate:
    case SQLSetGenerator:
      if (XSQLDA* params = sqlda_->AsXSQLDA())
        Check(gds_->isc_dsql_describe_bind(status, &handle_, dialect, params), true);
      sqlda_->ApplyDescription();
      if (sqlType_ == SQLSelect || sqlType_ == SQLExecProcedure || sqlType_ == SQLSelectForUpdate)
        DescribeResult();
      else
        sqlda2_->SetCount(0);  // no result columns: none of an earlier text stay visible
      break;
    default:
      break;
  }
  prepared_ = true;
  TIBSQLMonitorHook* hook = MonitorHook();
  if (hook && hook->WillTrace(Database(), tfQPrepare)) {
    std::string plan;
    try {
      plan = Plan();
    } catch (const EIBError&) {
      plan = "Can't retrieve plan - too large";
    }
    hook->SQLPrepare(Database(), Name, processedSQL_, plan);
  }
}

void TIBSQL::DescribeResult() {
  ISC_STATUS* status = db::StatusVector();
  const unsigned short dialect = static_cast<unsigned short>(Dialect());
  sqlda2_->SetCount(1);
  Check(gds_->isc_dsql_describe(status, &handle_, dialect, sqlda2_->AsXSQLDA()), true);
  XSQLDA* area = sqlda2_->AsXSQLDA();
  if (area->sqld > area->sqln) {
    sqlda2_->SetCount(area->sqld);
    Check(gds_->isc_dsql_describe(status, &handle_, dialect, sqlda2_->AsXSQLDA()), true);
  } else if (area->sqld == 0) {
    sqlda2_->SetCount(0);
  }
  sqlda2_->ApplyDescription();
}

void TIBSQL::ReportExecute() {
  TIBSQLMonitorHook* hook = MonitorHook();
  if (!hook || !hook->WillTrace(Database(), tfQExecute)) return;
  std::vector<std::pair<std::string, std::string>> params;
  for (int i = 0; i < sqlda_->Count(); ++i) {
    TIBXSQLVAR& v = (*sqlda_)[i];
    std::string value;
    if (v.IsNull())
      value = "<NULL>";
    else if (v.SqlType() == SQL_BLOB)
      value = "<BLOB>";
    else
      value = v.TextValue();
    params.emplace_back(v.Name(), value);
  }
  hook->SQLExecute(Database(), Name, processedSQL_, params);
}

void TIBSQL::ExecQuery() {
  if (open_) db::RaiseClientError(db::ClientError::SQLOpen);
  if (!prepared_) Prepare();
  base_.RequireTransaction();
  if (handle_ == 0) db::RaiseClientError(db::ClientError::InvalidStatementHandle);
  ReportExecute();
  ISC_STATUS* status = db::StatusVector();
  const unsigned short dialect = static_cast<unsigned short>(Dialect());
  switch (sqlType_) {
    case SQLSelect:
      Check(gds_->isc_dsql_execute2(status, base_.TRHandle(), &handle_, dialect, sqlda_->AsXSQLDA(),
                                    nullptr),
            true);
      Check(gds_->isc_dsql_set_cursor_name(status, &handle_, cursorName_.c_str(), kCursorType),
            true);
      open_ = true;
      bof_ = true;
      eof_ = false;
      recordCount_ = 0;
      if (GoToFirstRecordOnExecute) FetchNext();
      break;
    case SQLExecProcedure: {
      ISC_STATUS result = gds_->isc_dsql_execute2(status, base_.TRHandle(), &handle_, dialect,
                                                  sqlda_->AsXSQLDA(), sqlda2_->AsXSQLDA());
      if (result > 0) {
        if (db::StatusVectorHas(status, {isc_lock_conflict})) Check(result, true);
        ISC_STATUS_ARRAY ignored{};
        gds_->isc_dsql_prepare(ignored, base_.TRHandle(), &handle_, 0, processedSQL_.c_str(),
                               dialect, nullptr);
        Check(gds_->isc_dsql_execute2(status, base_.TRHandle(), &handle_, dialect,
                                      sqlda_->AsXSQLDA(), sqlda2_->AsXSQLDA()),
              true);
      }
      break;
    }
    default:
      Check(gds_->isc_dsql_execute(status, base_.TRHandle(), &handle_, dialect, sqlda_->AsXSQLDA()),
            true);
      break;
  }
}

TIBXSQLDA* TIBSQL::FetchNext() {
  if (eof_) return nullptr;
  if (!open_) db::RaiseClientError(db::ClientError::SQLClosed);
  ISC_STATUS* status = db::StatusVector();
  ISC_STATUS result = gds_->isc_dsql_fetch(status, &handle_, static_cast<unsigned short>(Dialect()),
                                           sqlda2_->AsXSQLDA());
  TIBXSQLDA* row = nullptr;
  if (result == kFetchEndOfData ||
      (result > 0 && db::StatusVectorHas(status, {isc_dsql_cursor_err}))) {
    eof_ = true;
  } else if (result > 0) {
    {
      // Closing the cursor must not lose the fetch's error.
      db::StatusVectorKeeper keep;
      try {
        Close();
      } catch (...) {
      }
    }
    Check(result, true);
    db::RaiseServerError();  // a status the database did not take as an error
  } else {
    ++recordCount_;
    bof_ = false;
    row = sqlda2_.get();
  }
  TIBSQLMonitorHook* hook = MonitorHook();
  if (hook && hook->WillTrace(Database(), tfQFetch))
    hook->SQLFetch(Database(), Name, processedSQL_, eof_);
  return row;
}

void TIBSQL::Close() {
  bool closeCursor = handle_ != 0 && sqlType_ == SQLSelect && open_;
  open_ = false;
  bof_ = false;
  eof_ = false;
  recordCount_ = 0;
  if (!closeCursor) return;
  ISC_STATUS* status = db::StatusVector();
  ISC_STATUS result = gds_->isc_dsql_free_statement(status, &handle_, DSQL_close);
  if (result <= 0) return;
  if (db::StatusVectorHas(status, {isc_bad_stmt_handle, isc_dsql_cursor_close_err})) return;
  if (db::StatusVectorHas(status, {db::kConnectionLost}) && Database()) {
    Database()->CheckStatus(result, true);
    return;
  }
  db::RaiseServerError();
}

void TIBSQL::ReleaseHandle() {
  isc_stmt_handle handle = handle_;
  handle_ = 0;
  prepared_ = false;
  open_ = false;
  bof_ = false;
  eof_ = false;
  recordCount_ = 0;
  if (handle == 0 || !Database() || !Database()->Connected()) return;
  ISC_STATUS* status = db::StatusVector();
  ISC_STATUS result = gds_->isc_dsql_free_statement(status, &handle, DSQL_drop);
  if (result > 0 && !db::StatusVectorHas(status, {isc_bad_stmt_handle, db::kConnectionLost}))
    db::RaiseServerError();
}

TIBXSQLDA& TIBSQL::Params() {
  TIBTransaction* transaction = Transaction();
  if (!transaction) db::RaiseClientError(db::ClientError::TransactionNotAssigned);
  bool started = false;
  if (!transaction->Active()) {
    transaction->Start();
    started = true;
  }
  try {
    if (!prepared_) Prepare();
  } catch (...) {
    if (started) {
      try {
        transaction->Commit();
      } catch (...) {
      }
    }
    throw;
  }
  if (started) transaction->Commit();
  return *sqlda_;
}

TIBXSQLVAR& TIBSQL::Fields(int index) {
  if (index < 0 || index >= sqlda2_->Count())
    db::RaiseClientError(db::ClientError::FieldNotFound, {index});
  return (*sqlda2_)[index];
}

TIBXSQLVAR& TIBSQL::FieldByName(std::string_view name) {
  return sqlda2_->ByName(name);
}

int TIBSQL::FieldIndex(std::string_view name) {
  TIBXSQLVAR* v = sqlda2_->LookupByName(name);
  return v ? v->Index() : -1;
}

std::string TIBSQL::Plan() {
  if (!prepared_ || !(sqlType_ == SQLSelect || sqlType_ == SQLUpdate || sqlType_ == SQLDelete ||
                      sqlType_ == SQLSelectForUpdate))
    return std::string();
  const char item = isc_info_sql_get_plan;
  std::vector<char> answer(kPlanBufferSize, 0);
  Check(gds_->isc_dsql_sql_info(db::StatusVector(), &handle_, sizeof item, &item, kPlanBufferSize,
                                answer.data()),
        true);
  if (answer[0] != item) {
    std::string message = db::ClientErrorMessage(db::ClientError::UnknownPlan);
    if (TIBSQLMonitorHook* hook = MonitorHook()) hook->SendError(message);
    throw EIBPlanError(static_cast<int32_t>(db::ClientError::UnknownPlan), message);
  }
  int length = gds_->isc_vax_integer(answer.data() + db::kInfoLengthOffset, db::kInfoLengthSize);
  length = std::clamp(length, 0, kPlanBufferSize - db::kInfoValueOffset);
  return rt::Trim(std::string_view(answer.data() + db::kInfoValueOffset, std::size_t(length)));
}

int TIBSQL::RowsAffected() {
  if (!prepared_) return -1;
  const char item = isc_info_sql_records;
  std::vector<char> answer(kRecordsBufferSize, 0);
  Check(gds_->isc_dsql_sql_info(db::StatusVector(), &handle_, sizeof item, &item,
                                kRecordsBufferSize, answer.data()),
        true);
  if (answer[0] != item) return -1;
  switch (sqlType_) {
    case SQLInsert:
      return LittleEndian32(answer.data() + kInsertCountOffset);
    case SQLUpdate:
      return LittleEndian32(answer.data() + kUpdateCountOffset);
    case SQLDelete:
      return LittleEndian32(answer.data() + kDeleteCountOffset);
    default:
      return -1;
  }
}

std::string TIBSQL::ReadBlob(ISC_QUAD id) {
  ISC_STATUS* status = db::StatusVector();
  isc_blob_handle blob = 0;
  Check(gds_->isc_open_blob2(status, base_.DBHandle(), base_.TRHandle(), &blob, &id, 0, nullptr),
        true);
  std::string data;
  std::vector<char> buffer(kBlobReadSize);
  for (;;) {
    unsigned short got = 0;
    ISC_STATUS result = gds_->isc_get_segment(status, &blob, &got, kBlobReadSize, buffer.data());
    if (result == 0 || result == isc_segment || status[1] == isc_segment) {
      data.append(buffer.data(), got);
      continue;
    }
    if (result == isc_segstr_eof || status[1] == isc_segstr_eof) break;
    {
      db::StatusVectorKeeper keep;
      ISC_STATUS_ARRAY ignored{};
      gds_->isc_close_blob(ignored, &blob);
    }
    Check(result, true);
    break;
  }
  Check(gds_->isc_close_blob(status, &blob), true);
  return data;
}

ISC_QUAD TIBSQL::WriteBlob(std::string_view data) {
  ISC_STATUS* status = db::StatusVector();
  isc_blob_handle blob = 0;
  ISC_QUAD id{};
  Check(gds_->isc_create_blob2(status, base_.DBHandle(), base_.TRHandle(), &blob, &id, 0, nullptr),
        true);
  for (std::size_t pos = 0; pos < data.size(); pos += kBlobSegmentSize) {
    std::size_t n = std::min(kBlobSegmentSize, data.size() - pos);
    ISC_STATUS result =
        gds_->isc_put_segment(status, &blob, static_cast<unsigned short>(n), data.data() + pos);
    if (result > 0) {
      {
        db::StatusVectorKeeper keep;
        ISC_STATUS_ARRAY ignored{};
        gds_->isc_cancel_blob(ignored, &blob);
      }
      Check(result, true);
    }
  }
  Check(gds_->isc_close_blob(status, &blob), true);
  return id;
}
