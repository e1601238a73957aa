// The console program's command line: --report FILE, --dry-run, --only-missing, --help,
// --version; nothing else.
#pragma once

#include <cstdio>

#include "app/UpdateRun.h"

namespace app {

// Exit statuses of a command line that ends the program before it runs.
inline constexpr int kCommandLineDone = 0;   // --help or --version answered
inline constexpr int kCommandLineUsage = 2;  // an argument the program does not know

struct ConsoleOptions {
  RunOptions run;  // its report file empty: LIRENTA_REPORT's, or no report
};

// Reads the arguments into `options`. Returns -1 when the program is to run, else the exit
// status after the usage or the version went to `out` (asked for) or the usage to `err`.
int ReadConsoleCommandLine(int argc, const char* const* argv, ConsoleOptions& options,
                           std::FILE* out, std::FILE* err);

}  // namespace app
