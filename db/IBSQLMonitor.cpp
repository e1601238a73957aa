#include "db/IBSQLMonitor.h"

#include <algorithm>

#include "db/IBDatabase.h"
#include "db/IBTransaction.h"
#include "runtime/ExePath.h"

namespace {

std::string DefaultApplicationTitle() {
  std::string path = rt::ExecutablePath();
  const std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos) path.erase(0, slash + 1);
  const std::size_t dot = path.find_last_of('.');
  if (dot != std::string::npos && dot > 0) path.erase(dot);
  return path;
}

}  // namespace

bool TIBSQLMonitorHook::Wants(const TIBDatabase* database, TTraceFlag flag) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!enabled_ || listeners_.empty() || database == nullptr) return false;
  return (database->TraceFlags & TraceFlag(flag)) != 0 && (flags_ & TraceFlag(flag)) != 0;
}

bool TIBSQLMonitorHook::WillTrace(const TIBDatabase* database, TTraceFlag flag) const {
  return Wants(database, flag);
}

void TIBSQLMonitorHook::Write(std::string_view text, TTraceFlag flag) {
  std::vector<Listener> listeners;
  TTraceEntry entry;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (listeners_.empty()) return;
    if (!titleSet_) {
      applicationTitle_ = DefaultApplicationTitle();
      titleSet_ = true;
    }
    entry.Flag = flag;
    entry.TimeStamp = rt::Now();
    entry.Text = "\r\n[Application: " + applicationTitle_ + "]\r\n";
    entry.Text += text;
    for (const auto& item : listeners_) listeners.push_back(item.second);
  }
  // Listeners run outside the lock, so one may register or remove listeners.
  for (const Listener& listener : listeners) listener(entry);
}

void TIBSQLMonitorHook::SQLPrepare(const TIBDatabase* database, std::string_view name,
                                   std::string_view sql, std::string_view plan) {
  if (!Wants(database, tfQPrepare)) return;
  std::string text(name);
  text += ": [Prepare] ";
  text += sql;
  text += "\r\n  Plan: ";
  text += plan;
  Write(text, tfQPrepare);
}

void TIBSQLMonitorHook::SQLExecute(const TIBDatabase* database, std::string_view name,
                                   std::string_view sql,
                                   const std::vector<std::pair<std::string, std::string>>& params) {
  if (!Wants(database, tfQExecute)) return;
  std::string text(name);
  text += ": [Execute] ";
  text += sql;
  if (!params.empty()) {
    text += "\r\n\r\nParameters:";
    for (const auto& [paramName, value] : params) text += "\r\n  " + paramName + " = " + value;
  }
  Write(text, tfQExecute);
}

void TIBSQLMonitorHook::SQLFetch(const TIBDatabase* database, std::string_view name,
                                 std::string_view sql, bool endOfData) {
  if (!Wants(database, tfQFetch)) return;
  std::string text(name);
  text += ": [Fetch] ";
  text += sql;
  if (endOfData) text += "\r\n  End of file reached";
  Write(text, tfQFetch);
}

void TIBSQLMonitorHook::DBConnect(const TIBDatabase& database) {
  if (Wants(&database, tfConnect)) Write(database.Name + ": [Connect]", tfConnect);
}

void TIBSQLMonitorHook::DBDisconnect(const TIBDatabase& database) {
  if (Wants(&database, tfConnect)) Write(database.Name + ": [Disconnect]", tfConnect);
}

void TIBSQLMonitorHook::TRStart(const TIBTransaction& transaction) {
  if (Wants(transaction.DefaultDatabase(), tfTransact))
    Write(transaction.Name + ": [Start transaction]", tfTransact);
}

void TIBSQLMonitorHook::TRCommit(const TIBTransaction& transaction) {
  if (Wants(transaction.DefaultDatabase(), tfTransact))
    Write(transaction.Name + ": [Commit (Hard commit)]", tfTransact);
}

void TIBSQLMonitorHook::TRCommitRetaining(const TIBTransaction& transaction) {
  if (Wants(transaction.DefaultDatabase(), tfTransact))
    Write(transaction.Name + ": [Commit retaining (Soft commit)]", tfTransact);
}

void TIBSQLMonitorHook::TRRollback(const TIBTransaction& transaction) {
  if (Wants(transaction.DefaultDatabase(), tfTransact))
    Write(transaction.Name + ": [Rollback]", tfTransact);
}

void TIBSQLMonitorHook::TRRollbackRetaining(const TIBTransaction& transaction) {
  if (Wants(transaction.DefaultDatabase(), tfTransact))
    Write(transaction.Name + ": [Rollback retaining (Soft rollback)]", tfTransact);
}

void TIBSQLMonitorHook::SendMisc(std::string_view text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!enabled_ || listeners_.empty()) return;
  }
  Write("[Misc] " + std::string(text), tfMisc);
}

void TIBSQLMonitorHook::SendError(std::string_view text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!enabled_ || listeners_.empty() || (flags_ & TraceFlag(tfError)) == 0) return;
  }
  Write("[Error] " + std::string(text), tfError);
}

void TIBSQLMonitorHook::SendError(std::string_view text, const TIBDatabase& database) {
  if (Wants(&database, tfError)) Write("[Error] " + std::string(text), tfError);
}

TTraceFlags TIBSQLMonitorHook::GetTraceFlags() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return flags_;
}

void TIBSQLMonitorHook::SetTraceFlags(TTraceFlags flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  flags_ = flags & kAllTraceFlags;
}

bool TIBSQLMonitorHook::GetEnabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return enabled_;
}

void TIBSQLMonitorHook::SetEnabled(bool enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  enabled_ = enabled;
}

int TIBSQLMonitorHook::AddListener(Listener listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int id = nextListenerId_++;
  listeners_.emplace_back(id, std::move(listener));
  return id;
}

void TIBSQLMonitorHook::RemoveListener(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                  [id](const auto& item) { return item.first == id; }),
                   listeners_.end());
}

bool TIBSQLMonitorHook::HasListeners() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !listeners_.empty();
}

void TIBSQLMonitorHook::SetApplicationTitle(std::string title) {
  std::lock_guard<std::mutex> lock(mutex_);
  applicationTitle_ = std::move(title);
  titleSet_ = true;
}

TIBSQLMonitorHook* MonitorHook() {
  // Created on first use and never destroyed: errors raised while static objects are torn down
  // at exit still find a hook.
  static TIBSQLMonitorHook* const hook = new TIBSQLMonitorHook();
  return hook;
}
