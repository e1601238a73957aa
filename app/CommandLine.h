// The command line of both programs, lirenta and lirenta-console: one list of options, one help
// text (each program names itself on its first line), and the environment variables that stand
// in for two of the options.
//
//   --report FILE        the lookup report; LIRENTA_REPORT=FILE otherwise
//   --dry-run            every lookup, no UPDATE, a rollback at the end
//   --only-missing       songs whose stored composer has a value are skipped
//   --max-wait SECONDS   how long the site's trouble is waited out; LIRENTA_MAX_WAIT otherwise
//   --help, --version    answered on standard output; nothing is opened
//
// The options are read with glibc's getopt_long, as every GNU program reads its own: a value
// follows after "=" (--max-wait=60) or as the next argument, a unique abbreviation stands for
// its option, and "--" ends the options (the programs take no other arguments). An option wins
// over its variable. An unknown option, a value given to an option that takes none, a missing
// value, another argument or a max wait that is not a whole number of seconds ends the program
// before it opens anything, with a refusal that names the option or the value.
#pragma once

#include <cstdio>
#include <string_view>

#include "app/UpdateRun.h"

namespace app {

// Exit statuses of a command line that ends the program before it runs.
inline constexpr int kCommandLineDone = 0;   // --help or --version answered
inline constexpr int kCommandLineUsage = 2;  // an unknown option, a missing or invalid value
// Returned when the program is to run.
inline constexpr int kCommandLineRun = -1;

// Reads the arguments of `program` ("lirenta", "lirenta-console") and the environment into
// `options`. Returns kCommandLineRun when the program is to run, else its exit status: after
// the help or the version went to `out`, or a refusal to `err`.
int ReadCommandLine(std::string_view program, int argc, const char* const* argv,
                    RunOptions& options, std::FILE* out, std::FILE* err);

}  // namespace app
