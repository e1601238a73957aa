// The SQL trace hook: the database client offers every raised error and, when a database asks
// for it, every prepare, execute, fetch, connect and transaction event to it.
//
// There is one hook per process. It keeps its own trace flags (all ten at the start) and an
// enable switch (on at the start). An entry is only built and handed on while an in-process
// listener is registered: with none, offering an entry costs a few tests and creates nothing.
// Listeners are called synchronously on the thread that offers the entry.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/DateTime.h"

class TIBDatabase;
class TIBTransaction;

enum TTraceFlag {
  tfQPrepare,
  tfQExecute,
  tfQFetch,
  tfError,
  tfStmt,
  tfConnect,
  tfTransact,
  tfBlob,
  tfService,
  tfMisc
};

// A set of trace flags, one bit per TTraceFlag ordinal.
using TTraceFlags = uint32_t;
constexpr TTraceFlags TraceFlag(TTraceFlag flag) {
  return TTraceFlags{1} << flag;
}
constexpr TTraceFlags kAllTraceFlags = (TTraceFlags{1} << (tfMisc + 1)) - 1;

// One entry as a listener receives it: the text carries the envelope "\r\n[Application: "
// title "]\r\n" in front of the event's text.
struct TTraceEntry {
  TTraceFlag Flag = tfMisc;
  TDateTime TimeStamp = 0;
  std::string Text;
};

class IIBSQLMonitorHook {
 public:
  virtual ~IIBSQLMonitorHook() = default;

  // Statement events: written when the flag is in the database's TraceFlags and the hook's
  // flags. `name` is the statement's component name, `sql` its text.
  virtual void SQLPrepare(const TIBDatabase* database, std::string_view name, std::string_view sql,
                          std::string_view plan) = 0;
  // `params` holds each parameter's name and its value text ("<NULL>", "<BLOB>" or the value).
  virtual void SQLExecute(const TIBDatabase* database, std::string_view name, std::string_view sql,
                          const std::vector<std::pair<std::string, std::string>>& params) = 0;
  virtual void SQLFetch(const TIBDatabase* database, std::string_view name, std::string_view sql,
                        bool endOfData) = 0;
  virtual void DBConnect(const TIBDatabase& database) = 0;
  virtual void DBDisconnect(const TIBDatabase& database) = 0;
  virtual void TRStart(const TIBTransaction& transaction) = 0;
  virtual void TRCommit(const TIBTransaction& transaction) = 0;
  virtual void TRCommitRetaining(const TIBTransaction& transaction) = 0;
  virtual void TRRollback(const TIBTransaction& transaction) = 0;
  virtual void TRRollbackRetaining(const TIBTransaction& transaction) = 0;
  // "[Misc] " and the text; needs only the hook enabled.
  virtual void SendMisc(std::string_view text) = 0;
  // "[Error] " and the text; the hook's flags must hold tfError.
  virtual void SendError(std::string_view text) = 0;
  // The same for an error of a given database: tfError must be in both sets of flags.
  virtual void SendError(std::string_view text, const TIBDatabase& database) = 0;

  // True when an entry for `flag` of `database` would reach a listener now; callers use it to
  // skip building texts (and, for prepare, reading the plan) that nobody will see.
  virtual bool WillTrace(const TIBDatabase* database, TTraceFlag flag) const = 0;

  virtual TTraceFlags GetTraceFlags() const = 0;
  virtual void SetTraceFlags(TTraceFlags flags) = 0;
  virtual bool GetEnabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
};

class TIBSQLMonitorHook : public IIBSQLMonitorHook {
 public:
  using Listener = std::function<void(const TTraceEntry&)>;

  TIBSQLMonitorHook() = default;

  void SQLPrepare(const TIBDatabase* database, std::string_view name, std::string_view sql,
                  std::string_view plan) override;
  void SQLExecute(const TIBDatabase* database, std::string_view name, std::string_view sql,
                  const std::vector<std::pair<std::string, std::string>>& params) override;
  void SQLFetch(const TIBDatabase* database, std::string_view name, std::string_view sql,
                bool endOfData) override;
  void DBConnect(const TIBDatabase& database) override;
  void DBDisconnect(const TIBDatabase& database) override;
  void TRStart(const TIBTransaction& transaction) override;
  void TRCommit(const TIBTransaction& transaction) override;
  void TRCommitRetaining(const TIBTransaction& transaction) override;
  void TRRollback(const TIBTransaction& transaction) override;
  void TRRollbackRetaining(const TIBTransaction& transaction) override;
  void SendMisc(std::string_view text) override;
  void SendError(std::string_view text) override;
  void SendError(std::string_view text, const TIBDatabase& database) override;
  bool WillTrace(const TIBDatabase* database, TTraceFlag flag) const override;

  TTraceFlags GetTraceFlags() const override;
  void SetTraceFlags(TTraceFlags flags) override;
  bool GetEnabled() const override;
  void SetEnabled(bool enabled) override;

  // Registers a listener; returns its id for RemoveListener.
  int AddListener(Listener listener);
  void RemoveListener(int id);
  bool HasListeners() const;

  // The application title used in the envelope; by default the executable's file name.
  void SetApplicationTitle(std::string title);

 private:
  bool Wants(const TIBDatabase* database, TTraceFlag flag) const;
  void Write(std::string_view text, TTraceFlag flag);

  mutable std::mutex mutex_;
  TTraceFlags flags_ = kAllTraceFlags;
  bool enabled_ = true;
  std::vector<std::pair<int, Listener>> listeners_;
  int nextListenerId_ = 1;
  std::string applicationTitle_;
  bool titleSet_ = false;
};

// The process's hook, created on first use (under the runtime's static-initialisation lock) and
// kept until the process ends; never null.
TIBSQLMonitorHook* MonitorHook();
