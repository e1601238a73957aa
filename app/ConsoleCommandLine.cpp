#include "app/ConsoleCommandLine.h"

#include <string_view>

namespace app {

namespace {

constexpr const char* kUsage =
    "usage: lirenta-console [--report FILE] [--dry-run] [--only-missing]\n"
    "Fills in the composers of the songs of the database named in BaseKavro.ini, next to the\n"
    "program, from the lyrics site (LIRENTA_LYRICS_URL replaces its address).\n"
    "  --report FILE   append one line per page fetch to FILE, tab-separated UTF-8 with the\n"
    "                  columns codigo, interprete, nome, endereco, resultado, compositor and\n"
    "                  anterior (the composer stored before the run); LIRENTA_REPORT=FILE\n"
    "                  does the same\n"
    "  --dry-run       look every song up as a real run does, but write nothing: no UPDATE,\n"
    "                  and a rollback at the end\n"
    "  --only-missing  skip the songs whose stored composer has a value (not NULL, not blank)\n"
    "  --help          show this text\n"
    "  --version       show the program's version\n"
    "The first Ctrl-C (SIGINT) or SIGTERM stops a run after the song in progress and keeps the\n"
    "songs done; a second one ends the program at once. A summary of the run goes to standard\n"
    "error.\n"
    "Exit status: 0 the run completed; 1 no database, or the run failed; 2 an unknown argument;\n"
    "130 stopped by SIGINT; 143 stopped by SIGTERM.\n";

#ifndef LIRENTA_VERSION
#define LIRENTA_VERSION "unknown"
#endif
constexpr const char* kVersion = "lirenta-console " LIRENTA_VERSION "\n";

}  // namespace

int ReadConsoleCommandLine(int argc, const char* const* argv, ConsoleOptions& options,
                           std::FILE* out, std::FILE* err) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, out);
      return kCommandLineDone;
    }
    if (arg == "--version") {
      std::fputs(kVersion, out);
      return kCommandLineDone;
    }
    if (arg == "--report" && i + 1 < argc && *argv[i + 1] != '\0') {
      options.run.reportFile = argv[++i];
      continue;
    }
    if (arg == "--dry-run") {
      options.run.dryRun = true;
      continue;
    }
    if (arg == "--only-missing") {
      options.run.onlyMissing = true;
      continue;
    }
    std::fputs(kUsage, err);
    return kCommandLineUsage;
  }
  return -1;
}

}  // namespace app
