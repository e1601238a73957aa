#include "app/CommandLine.h"

#include <getopt.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/LookupReport.h"

namespace app {

namespace {

// The options after the program's name on the usage line.
constexpr const char* kSynopsis =
    "[--report FILE] [--dry-run] [--only-missing] [--max-wait SECONDS]";

// Everything of the help text below the usage line; both programs share it.
constexpr const char* kHelpBody =
    "Fills in the composers of the songs of the database named in BaseKavro.ini, next to the\n"
    "program, from the lyrics site (LIRENTA_LYRICS_URL replaces its address): lirenta in a\n"
    "window with one button, lirenta-console at once, without a display.\n"
    "  --report FILE       append one line per page fetch to FILE, tab-separated UTF-8 with\n"
    "                      the columns codigo, interprete, nome, endereco, resultado,\n"
    "                      compositor and anterior (the composer stored before the run);\n"
    "                      LIRENTA_REPORT=FILE does the same\n"
    "  --dry-run           look every song up as a real run does, but write nothing: no\n"
    "                      UPDATE, and a rollback at the end\n"
    "  --only-missing      skip the songs whose stored composer has a value (not NULL, not\n"
    "                      blank)\n"
    "  --max-wait SECONDS  how long a run waits out the lyrics site's trouble (no answer, or\n"
    "                      429 Too Many Requests or 503 Service Unavailable) before it stops;\n"
    "                      default 600, 0 does not wait; LIRENTA_MAX_WAIT=SECONDS does the same\n"
    "  --help              show this text\n"
    "  --version           show the program's version\n"
    "A value follows its option after \"=\" (--max-wait=60) or as the next argument; -- ends\n"
    "the options.\n"
    "The database is CAMINHO in the [BANCO] section of BaseKavro.ini: a file's path, opened by\n"
    "the program itself, or host:/path on a Firebird server. The login is ISC_USER and\n"
    "ISC_PASSWORD from the environment, else USUARIO and SENHA in [BANCO], each value on its\n"
    "own, else SYSDBA with the program's stored password. A BaseKavro.ini that holds SENHA is\n"
    "for its owner only (chmod 600) or its owner and group (chmod 640); when any user may read\n"
    "it, the program says so on standard error. A user of your own on a Debian firebird3.0-server\n"
    "(SYSDBA's password is in /etc/firebird/3.0/SYSDBA.password, readable by root):\n"
    "  sudo sh -c '. /etc/firebird/3.0/SYSDBA.password; export ISC_USER ISC_PASSWORD;\n"
    "              exec isql-fb localhost:/srv/kavro/kavro.fdb'\n"
    "  SQL> CREATE USER ana PASSWORD 'secret'; COMMIT;\n"
    "  SQL> GRANT SELECT, UPDATE ON Tb_Musicas TO ana; COMMIT;\n"
    "  BaseKavro.ini: CAMINHO=localhost:/srv/kavro/kavro.fdb, USUARIO=ana and SENHA=secret\n"
    "A run that loses the database server stops at once and says so; the songs committed before\n"
    "are kept: finish with --only-missing (lirenta-console exits with 1).\n"
    "A song the site's trouble kept from being looked up is looked up again after a wait (the\n"
    "site's Retry-After, else 1 s doubling up to 60 s). The work done is committed as the run\n"
    "goes; a run stopped by the site or by Ctrl-C is finished later with --only-missing.\n"
    "Pages that moved are followed (301, 302, 303, 307, 308; never from https to http). The\n"
    "site's trouble also counts 502 Bad Gateway, 504 Gateway Timeout and a page not whole two\n"
    "minutes after it was asked for. A song not looked up after five lookups is left for a\n"
    "later run when the song before it was looked up, and the run goes on. Proxies: http_proxy\n"
    "(HTTP_PROXY is ignored), https_proxy or HTTPS_PROXY, and no_proxy or NO_PROXY, as curl\n"
    "reads them; a proxy that answers 407 ends the run (lirenta-console: exit status 1).\n"
    "lirenta-console: the first Ctrl-C (SIGINT) or SIGTERM stops a run after the song in\n"
    "progress, or at once during a wait, and keeps the songs done; a second one ends the program\n"
    "at once. A summary of the run goes to standard error. Exit status: 0 the run completed;\n"
    "1 no database, or the run failed; 2 an unknown option or an invalid value; 3 the lyrics\n"
    "site gave nothing but trouble for the max wait; 130 stopped by SIGINT; 143 by SIGTERM.\n"
    "lirenta: closing the window during a wait stops the run there and keeps the songs done.\n"
    "Exit status: 0 the window was closed; 1 no display; 2 an unknown option or an invalid "
    "value.\n";

#ifndef LIRENTA_VERSION
#define LIRENTA_VERSION "unknown"
#endif

void PrintUsageLine(std::string_view program, std::FILE* to) {
  std::fprintf(to, "usage: %.*s %s\n", int(program.size()), program.data(), kSynopsis);
}

// The options; a value follows after "=" or as the next argument. The codes lie above every
// character, so that none can be taken for a short option.
enum : int {
  kFirstLongOption = 256,
  kReport = kFirstLongOption,
  kDryRun,
  kOnlyMissing,
  kMaxWait,
  kHelp,
  kVersion
};
const option kLongOptions[] = {{"report", required_argument, nullptr, kReport},
                               {"dry-run", no_argument, nullptr, kDryRun},
                               {"only-missing", no_argument, nullptr, kOnlyMissing},
                               {"max-wait", required_argument, nullptr, kMaxWait},
                               {"help", no_argument, nullptr, kHelp},
                               {"version", no_argument, nullptr, kVersion},
                               {nullptr, 0, nullptr, 0}};
// No short options; the leading ":" makes a missing value its own answer.
constexpr const char* kShortOptions = ":";

// "--report" for kReport.
std::string OptionName(int code) {
  for (const option* o = kLongOptions; o->name != nullptr; ++o)
    if (o->val == code) return std::string("--") + o->name;
  return "-" + std::string(1, char(code));
}

// A refusal: the program's name, what is wrong, then the usage line.
int Refuse(std::string_view program, const std::string& what, std::FILE* err) {
  std::fprintf(err, "%.*s: %s\n", int(program.size()), program.data(), what.c_str());
  PrintUsageLine(program, err);
  return kCommandLineUsage;
}

// A max wait read from `text`, named `source` in a refusal.
bool TakeMaxWait(std::string_view program, std::string_view source, std::string_view text,
                 RunOptions& options, std::FILE* err) {
  if (auto seconds = ReadMaxWait(text)) {
    options.maxWait = *seconds;
    return true;
  }
  std::fprintf(err, "%.*s: %.*s: \"%.*s\" is not a whole number of seconds (0 or more)\n",
               int(program.size()), program.data(), int(source.size()), source.data(),
               int(text.size()), text.data());
  return false;
}

}  // namespace

int ReadCommandLine(std::string_view program, int argc, const char* const* argv,
                    RunOptions& options, std::FILE* out, std::FILE* err) {
  // The environment first, so that an option given as well wins.
  if (const char* report = std::getenv(kReportVariable); report != nullptr && *report != '\0')
    options.reportFile = report;
  if (const char* wait = std::getenv(kMaxWaitVariable); wait != nullptr && *wait != '\0')
    if (!TakeMaxWait(program, kMaxWaitVariable, wait, options, err)) return kCommandLineUsage;

  // getopt_long reorders the list it reads (it never changes the texts), so it reads a copy.
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) args.push_back(const_cast<char*>(argv[i]));
  args.push_back(nullptr);
  // 0 starts a fresh scan; the refusals are this program's own, not getopt's.
  optind = 0;
  opterr = 0;
  for (;;) {
    const int option = getopt_long(argc, args.data(), kShortOptions, kLongOptions, nullptr);
    if (option == -1) break;
    switch (option) {
      case kHelp:
        PrintUsageLine(program, out);
        std::fputs(kHelpBody, out);
        return kCommandLineDone;
      case kVersion:
        std::fprintf(out, "%.*s %s\n", int(program.size()), program.data(), LIRENTA_VERSION);
        return kCommandLineDone;
      case kDryRun:
        options.dryRun = true;
        break;
      case kOnlyMissing:
        options.onlyMissing = true;
        break;
      case kReport:
      case kMaxWait:
        if (*optarg == '\0') return Refuse(program, OptionName(option) + " needs a value", err);
        if (option == kReport)
          options.reportFile = optarg;
        else if (!TakeMaxWait(program, OptionName(option), optarg, options, err))
          return kCommandLineUsage;
        break;
      case ':':
        return Refuse(program, OptionName(optopt) + " needs a value", err);
      default: {
        // A known option given a value it takes none of, or an unknown one.
        if (optopt >= kFirstLongOption)
          return Refuse(program, OptionName(optopt) + " takes no value", err);
        if (optopt != 0)
          return Refuse(program, "unknown option -" + std::string(1, char(optopt)), err);
        // An unknown long option: its name as written, without a value after "=".
        const std::string_view written = args[optind - 1];
        return Refuse(program,
                      "unknown option " + std::string(written.substr(0, written.find('='))), err);
      }
    }
  }
  if (optind < argc)
    return Refuse(program, "unexpected argument " + std::string(args[optind]), err);
  return kCommandLineRun;
}

}  // namespace app
