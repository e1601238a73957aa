#include "app/ConsoleCommandLine.h"

#include <string_view>

namespace app {

namespace {

constexpr const char* kUsage =
    "usage: lirenta-console [--report FILE]\n"
    "Fills in the composers of the songs of the database named in BaseKavro.ini, next to the\n"
    "program, from the lyrics site (LIRENTA_LYRICS_URL replaces its address).\n"
    "  --report FILE  append one line per page fetch to FILE (tab-separated UTF-8);\n"
    "                 LIRENTA_REPORT=FILE does the same\n"
    "  --help         show this text\n"
    "  --version      show the program's version\n";

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
      options.reportFile = argv[++i];
      continue;
    }
    std::fputs(kUsage, err);
    return kCommandLineUsage;
  }
  return -1;
}

}  // namespace app
