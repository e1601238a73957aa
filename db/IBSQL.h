// One dynamic SQL statement: named parameters rewritten into positional placeholders, prepared
// on the server, described into a parameter area and a result area, executed, and, for queries,
// fetched row by row through a cursor.
//
// Lifecycle: unprepared (no handle) -> prepared (handle, described areas) -> open (a select's
// cursor) -> at end of data -> closed (cursor closed, still prepared). A change of the text, of
// the database or of the transaction, the database closing and destruction make it unprepared
// again; a commit or rollback of the transaction (not the retaining forms) closes an open cursor.
//
// End of data is a return value of FetchNext (nullptr), never an exception.
#pragma once

#include <ibase.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/IBBase.h"
#include "db/IBDatabase.h"
#include "db/IBIntf.h"
#include "db/IBXSQLDA.h"

// The dialect a statement without a database assumes.
constexpr int kDefaultDialect = db::kDefaultSQLDialect;

// Statement types as the server reports them (SQLUnknown before preparation).
enum TIBSQLTypes {
  SQLUnknown = 0,
  SQLSelect = isc_info_sql_stmt_select,
  SQLInsert = isc_info_sql_stmt_insert,
  SQLUpdate = isc_info_sql_stmt_update,
  SQLDelete = isc_info_sql_stmt_delete,
  SQLDDL = isc_info_sql_stmt_ddl,
  SQLGetSegment = isc_info_sql_stmt_get_segment,
  SQLPutSegment = isc_info_sql_stmt_put_segment,
  SQLExecProcedure = isc_info_sql_stmt_exec_procedure,
  SQLStartTransaction = isc_info_sql_stmt_start_trans,
  SQLCommit = isc_info_sql_stmt_commit,
  SQLRollback = isc_info_sql_stmt_rollback,
  SQLSelectForUpdate = isc_info_sql_stmt_select_for_upd,
  SQLSetGenerator = isc_info_sql_stmt_set_generator
};

// Trims `name`; in dialect 1 upper-cases it; in other dialects a name in double quotes loses
// them (a doubled quote inside stands for one) and any other name is upper-cased.
std::string NormalizeIdentifier(int dialect, std::string_view name);
// Dialect 1: trimmed and upper-cased. Other dialects: doubled inner quotes, enclosed in quotes.
std::string QuoteName(int dialect, std::string_view name);

class TIBSQL : public TIBBaseOwner {
 public:
  // Takes the shared client library (client error 1 when it cannot be loaded).
  TIBSQL();
  // A statement owned by a database works through that database.
  explicit TIBSQL(TIBDatabase* owner);
  // A statement owned by a transaction runs in that transaction.
  explicit TIBSQL(TIBTransaction* owner);
  // Closes an open cursor and releases the handle; never throws.
  ~TIBSQL() override;
  TIBSQL(const TIBSQL&) = delete;
  TIBSQL& operator=(const TIBSQL&) = delete;

  // The component's name (used in trace texts).
  std::string Name;

  TIBDatabase* Database() const { return base_.Database(); }
  // A different database releases the handle first when prepared.
  void SetDatabase(TIBDatabase* value) override;
  TIBTransaction* Transaction() const { return base_.Transaction(); }
  // A different transaction releases the handle first when prepared.
  void SetTransaction(TIBTransaction* value);
  TIBBase& Base() { return base_; }

  bool GoToFirstRecordOnExecute = true;
  bool ParamCheck = true;
  // Placeholders without a name ("?") get generated names IBParam0, IBParam1, ... instead of
  // failing.
  bool GenerateParamNames = false;

  // The text as lines. Setting a text equal to the current one does nothing; otherwise
  // OnSQLChanging runs first and a held statement handle is released.
  const std::vector<std::string>& SQL() const { return sql_; }
  void SetSQL(std::vector<std::string> lines);
  // The lines joined with a line break after each (the text that is processed).
  std::string SQLText() const;
  TNotifyEvent OnSQLChanging;

  // Rewrites the parameters, allocates and prepares the statement and describes both areas.
  void Prepare();
  // Executes; a select opens its cursor (and, with GoToFirstRecordOnExecute, fetches once).
  void ExecQuery();
  // The result area with the next row, or nullptr at the end of data.
  TIBXSQLDA* FetchNext();
  // Closes an open cursor; the statement stays prepared.
  void Close();
  // Drops the statement on the server; the statement becomes unprepared.
  void ReleaseHandle();

  bool Prepared() const { return prepared_; }
  bool Open() const { return open_; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  // Rows fetched since the cursor opened.
  int RecordCount() const { return recordCount_; }
  TIBSQLTypes SQLType() const { return sqlType_; }
  const std::string& ProcessedSQL() const { return processedSQL_; }
  const std::string& CursorName() const { return cursorName_; }
  isc_stmt_handle Handle() const { return handle_; }
  isc_stmt_handle* HandleAddress() { return &handle_; }
  // The database's dialect, or the default dialect without a database.
  int Dialect() const;

  // The parameter area as described: starts the transaction when it is not active, prepares
  // when needed, and commits again what it started.
  TIBXSQLDA& Params();
  // The parameter area as it stands (no preparation).
  TIBXSQLDA& SQLParams() { return *sqlda_; }
  // The result area.
  TIBXSQLDA& Current() { return *sqlda2_; }
  // Result column by position; outside 0 .. count - 1 raises "Field "%s" not found".
  TIBXSQLVAR& Fields(int index);
  // Result column by name (absent raises "Field "%s" not found").
  TIBXSQLVAR& FieldByName(std::string_view name);
  // Position of the result column of that name, or -1.
  int FieldIndex(std::string_view name);

  // The server's plan (selects, updates, deletes and selects for update when prepared).
  std::string Plan();
  // Rows changed by the last insert, update or delete; -1 when not known.
  int RowsAffected();

  // Blob values of this statement's database and transaction.
  std::string ReadBlob(ISC_QUAD id);
  ISC_QUAD WriteBlob(std::string_view data);

  // Scans `text` for named parameters. Returns the text with a "?" in place of each parameter
  // and appends the parameter names (unnormalised, in order) to `names`. Raises client error 55
  // for an unterminated comment or string and for a placeholder without a name.
  static std::string PreprocessSQL(std::string_view text, bool generateParamNames,
                                   std::vector<std::string>& names);

 private:
  void Init();
  void DoPrepare();
  void DescribeResult();
  void ReportExecute();
  void DatabaseClosing();
  void TransactionEnding();
  // Checks a client-API result through the transaction (falling back to the database).
  ISC_STATUS Check(ISC_STATUS status, bool raiseError);

  std::shared_ptr<IGDSLibrary> gds_;
  TIBBase base_;
  std::vector<std::string> sql_;
  isc_stmt_handle handle_ = 0;
  bool prepared_ = false;
  bool open_ = false;
  bool bof_ = false;
  bool eof_ = false;
  int recordCount_ = 0;
  TIBSQLTypes sqlType_ = SQLUnknown;
  std::string processedSQL_;
  std::unique_ptr<TIBXSQLDA> sqlda_;   // parameters
  std::unique_ptr<TIBXSQLDA> sqlda2_;  // result columns
  std::string cursorName_;
};
