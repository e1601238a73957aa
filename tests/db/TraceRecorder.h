// The trace entries the hook offers while a recorder lives, for the database suites that count
// prepares, executions and fetches.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "db/IBDatabase.h"
#include "db/IBSQLMonitor.h"

namespace test {

// Sets `flags` on `database` and records every entry handed to listeners until destroyed, when
// the database traces nothing again.
class TraceRecorder {
 public:
  TraceRecorder(TIBDatabase& database, TTraceFlags flags) : database_(database) {
    database_.TraceFlags = flags;
    id_ = MonitorHook()->AddListener([this](const TTraceEntry& e) { entries.push_back(e); });
  }
  ~TraceRecorder() {
    MonitorHook()->RemoveListener(id_);
    database_.TraceFlags = 0;
  }
  TraceRecorder(const TraceRecorder&) = delete;
  TraceRecorder& operator=(const TraceRecorder&) = delete;

  // The entries of kind `flag` whose text contains `text`.
  int Count(TTraceFlag flag, const std::string& text) const {
    return static_cast<int>(
        std::count_if(entries.begin(), entries.end(), [&](const TTraceEntry& e) {
          return e.Flag == flag && e.Text.find(text) != std::string::npos;
        }));
  }

  std::vector<TTraceEntry> entries;

 private:
  TIBDatabase& database_;
  int id_ = 0;
};

}  // namespace test
