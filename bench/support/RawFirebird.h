// The floor of the database comparisons: the Firebird client library's C API called directly,
// with nothing between the caller and the library but the descriptor areas it needs.
//
// Every failing call raises std::runtime_error with the client library's message lines.
#pragma once

#include <ibase.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// Raises std::runtime_error with `what` and the status vector's message lines when it holds
// an error.
void CheckStatus(const ISC_STATUS* status, const char* what);

class RawAttachment {
 public:
  // Attaches `database` (a file for the embedded engine, or host:path).
  RawAttachment(const std::string& database, const std::string& user, const std::string& password);
  ~RawAttachment();  // detaches; never raises
  RawAttachment(const RawAttachment&) = delete;
  RawAttachment& operator=(const RawAttachment&) = delete;
  isc_db_handle* Handle() { return &handle_; }

 private:
  isc_db_handle handle_ = 0;
};

// A read-committed, record-version, no-wait write transaction: the main window's settings.
class RawTransaction {
 public:
  explicit RawTransaction(isc_db_handle* database);
  ~RawTransaction();  // rolls back when still active; never raises
  RawTransaction(const RawTransaction&) = delete;
  RawTransaction& operator=(const RawTransaction&) = delete;
  isc_tr_handle* Handle() { return &handle_; }
  void Commit();

 private:
  isc_tr_handle handle_ = 0;
};

// One statement prepared once, with an input and an output descriptor area allocated once and
// reused by every execution.
class RawStatement {
 public:
  // Prepares `sql` (dialect 1, positional "?" parameters) on `database` within `transaction`.
  RawStatement(isc_db_handle* database, isc_tr_handle* transaction, const std::string& sql);
  ~RawStatement();  // frees the statement; never raises
  RawStatement(const RawStatement&) = delete;
  RawStatement& operator=(const RawStatement&) = delete;

  // Parameter values (0-based), kept until changed.
  void SetText(int index, std::string_view text);
  void SetInteger(int index, int32_t value);

  // Runs a statement without a result set.
  void Execute();
  // Runs a query and opens its cursor; Fetch moves to the next row (false at the end).
  void Open();
  bool Fetch();
  void CloseCursor();

  // Values of the current row (0-based columns); a null text is empty.
  int32_t IntegerAt(int column) const;
  std::string_view TextAt(int column) const;

 private:
  struct Area {
    std::vector<char> memory;  // the XSQLDA with room for sqln columns
    std::vector<std::vector<char>> data;
    std::vector<short> nulls;
    XSQLDA* sqlda() { return reinterpret_cast<XSQLDA*>(memory.data()); }
    const XSQLDA* sqlda() const { return reinterpret_cast<const XSQLDA*>(memory.data()); }
  };
  static void Allocate(Area& area, int columns);
  static void Bind(Area& area);

  isc_tr_handle* transaction_;
  isc_stmt_handle handle_ = 0;
  Area in_;
  Area out_;
  bool cursorOpen_ = false;
};

}  // namespace bench
