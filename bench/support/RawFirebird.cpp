#include "bench/support/RawFirebird.h"

#include <cstring>
#include <stdexcept>

namespace bench {

namespace {

// The song database's SQL dialect.
constexpr unsigned short kDialect = 1;
// Columns a statement of the benchmarks may have before the area is made larger.
constexpr int kInitialColumns = 8;

}  // namespace

void CheckStatus(const ISC_STATUS* status, const char* what) {
  if (status[0] != 1 || status[1] == 0) return;
  std::string message = what;
  char line[512];
  const ISC_STATUS* walk = status;
  while (fb_interpret(line, sizeof line, &walk) > 0) message += std::string("\n") + line;
  throw std::runtime_error(message);
}

RawAttachment::RawAttachment(const std::string& database, const std::string& user,
                             const std::string& password) {
  std::string dpb(1, char(isc_dpb_version1));
  auto add = [&dpb](char tag, const std::string& value) {
    dpb += tag;
    dpb += char(value.size());
    dpb += value;
  };
  add(isc_dpb_user_name, user);
  add(isc_dpb_password, password);
  ISC_STATUS_ARRAY status;
  isc_attach_database(status, short(database.size()), database.c_str(), &handle_, short(dpb.size()),
                      dpb.data());
  CheckStatus(status, "isc_attach_database");
}

RawAttachment::~RawAttachment() {
  ISC_STATUS_ARRAY status;
  if (handle_ != 0) isc_detach_database(status, &handle_);
}

RawTransaction::RawTransaction(isc_db_handle* database) {
  static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                             isc_tpb_rec_version, isc_tpb_nowait};
  ISC_STATUS_ARRAY status;
  isc_start_transaction(status, &handle_, 1, database, short(sizeof tpb), tpb);
  CheckStatus(status, "isc_start_transaction");
}

RawTransaction::~RawTransaction() {
  ISC_STATUS_ARRAY status;
  if (handle_ != 0) isc_rollback_transaction(status, &handle_);
}

void RawTransaction::Commit() {
  ISC_STATUS_ARRAY status;
  isc_commit_transaction(status, &handle_);
  CheckStatus(status, "isc_commit_transaction");
}

void RawStatement::Allocate(Area& area, int columns) {
  area.memory.assign(XSQLDA_LENGTH(columns), 0);
  area.sqlda()->version = SQLDA_VERSION1;
  area.sqlda()->sqln = short(columns);
}

// Gives every column of the described area a buffer of its own and a null indicator.
void RawStatement::Bind(Area& area) {
  XSQLDA* da = area.sqlda();
  area.data.assign(std::size_t(da->sqld), {});
  area.nulls.assign(std::size_t(da->sqld), 0);
  for (int i = 0; i < da->sqld; ++i) {
    XSQLVAR& var = da->sqlvar[i];
    const int type = var.sqltype & ~1;
    std::size_t size = std::size_t(var.sqllen);
    if (type == SQL_VARYING) size += sizeof(short);
    area.data[std::size_t(i)].assign(size + 1, 0);
    var.sqldata = area.data[std::size_t(i)].data();
    var.sqlind = &area.nulls[std::size_t(i)];
    var.sqltype = short(type | 1);
  }
}

RawStatement::RawStatement(isc_db_handle* database, isc_tr_handle* transaction,
                           const std::string& sql)
    : transaction_(transaction) {
  ISC_STATUS_ARRAY status;
  isc_dsql_allocate_statement(status, database, &handle_);
  CheckStatus(status, "isc_dsql_allocate_statement");
  Allocate(out_, kInitialColumns);
  isc_dsql_prepare(status, transaction_, &handle_, 0, sql.c_str(), kDialect, out_.sqlda());
  CheckStatus(status, "isc_dsql_prepare");
  if (out_.sqlda()->sqld > out_.sqlda()->sqln) {
    const int columns = out_.sqlda()->sqld;
    Allocate(out_, columns);
    isc_dsql_describe(status, &handle_, kDialect, out_.sqlda());
    CheckStatus(status, "isc_dsql_describe");
  }
  Bind(out_);
  Allocate(in_, kInitialColumns);
  isc_dsql_describe_bind(status, &handle_, kDialect, in_.sqlda());
  CheckStatus(status, "isc_dsql_describe_bind");
  if (in_.sqlda()->sqld > in_.sqlda()->sqln) {
    const int columns = in_.sqlda()->sqld;
    Allocate(in_, columns);
    isc_dsql_describe_bind(status, &handle_, kDialect, in_.sqlda());
    CheckStatus(status, "isc_dsql_describe_bind");
  }
  Bind(in_);
}

RawStatement::~RawStatement() {
  ISC_STATUS_ARRAY status;
  if (handle_ != 0) isc_dsql_free_statement(status, &handle_, DSQL_drop);
}

void RawStatement::SetText(int index, std::string_view text) {
  XSQLVAR& var = in_.sqlda()->sqlvar[index];
  if ((var.sqltype & ~1) != SQL_VARYING || text.size() > std::size_t(var.sqllen))
    throw std::runtime_error("not a text parameter of that size");
  const short length = short(text.size());
  std::memcpy(var.sqldata, &length, sizeof length);
  std::memcpy(var.sqldata + sizeof length, text.data(), text.size());
  *var.sqlind = 0;
}

void RawStatement::SetInteger(int index, int32_t value) {
  XSQLVAR& var = in_.sqlda()->sqlvar[index];
  if ((var.sqltype & ~1) != SQL_LONG) throw std::runtime_error("not an integer parameter");
  std::memcpy(var.sqldata, &value, sizeof value);
  *var.sqlind = 0;
}

void RawStatement::Execute() {
  ISC_STATUS_ARRAY status;
  isc_dsql_execute(status, transaction_, &handle_, kDialect,
                   in_.sqlda()->sqld > 0 ? in_.sqlda() : nullptr);
  CheckStatus(status, "isc_dsql_execute");
}

void RawStatement::Open() {
  Execute();
  cursorOpen_ = true;
}

bool RawStatement::Fetch() {
  ISC_STATUS_ARRAY status;
  const ISC_STATUS result = isc_dsql_fetch(status, &handle_, kDialect, out_.sqlda());
  if (result == 100) return false;
  CheckStatus(status, "isc_dsql_fetch");
  return true;
}

void RawStatement::CloseCursor() {
  if (!cursorOpen_) return;
  ISC_STATUS_ARRAY status;
  isc_dsql_free_statement(status, &handle_, DSQL_close);
  CheckStatus(status, "isc_dsql_free_statement");
  cursorOpen_ = false;
}

int32_t RawStatement::IntegerAt(int column) const {
  const XSQLVAR& var = out_.sqlda()->sqlvar[column];
  if (*var.sqlind != 0) return 0;
  if ((var.sqltype & ~1) == SQL_LONG) {
    int32_t value = 0;
    std::memcpy(&value, var.sqldata, sizeof value);
    return value;
  }
  if ((var.sqltype & ~1) == SQL_INT64 && var.sqlscale == 0) {
    int64_t value = 0;
    std::memcpy(&value, var.sqldata, sizeof value);
    return int32_t(value);
  }
  throw std::runtime_error("not an integer column");
}

std::string_view RawStatement::TextAt(int column) const {
  const XSQLVAR& var = out_.sqlda()->sqlvar[column];
  if (*var.sqlind != 0) return {};
  switch (var.sqltype & ~1) {
    case SQL_VARYING: {
      short length = 0;
      std::memcpy(&length, var.sqldata, sizeof length);
      return {var.sqldata + sizeof length, std::size_t(length)};
    }
    case SQL_TEXT:
      return {var.sqldata, std::size_t(var.sqllen)};
    default:
      throw std::runtime_error("not a text column");
  }
}

}  // namespace bench
