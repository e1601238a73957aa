// The one command-line parser of both programs, in this process: the GNU forms of the options
// (a value after "=" or as the next argument, unique abbreviations, "--" ending the options) and
// the refusals, each naming the option or the value that is wrong.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace {

struct Parsed {
  int status;
  app::RunOptions options;
  std::string err;
};

Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "/usr/bin/lirenta-console");
  Parsed parsed{};
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* err = open_memstream(&text, &size);
  std::FILE* out = std::fopen("/dev/null", "w");
  parsed.status = app::ReadCommandLine("lirenta-console", int(args.size()), args.data(),
                                       parsed.options, out, err);
  std::fclose(out);
  std::fclose(err);
  parsed.err = std::string(text, size);
  free(text);
  return parsed;
}

TEST(CommandLine, ValuesFollowAfterAnEqualsSignOrAsTheNextArgument) {
  unsetenv("LIRENTA_REPORT");
  unsetenv("LIRENTA_MAX_WAIT");
  struct Case {
    std::vector<const char*> args;
    std::string report;
    int64_t maxWait;
    bool dryRun, onlyMissing;
  };
  const std::vector<Case> cases = {
      {{"--report=r.tsv", "--max-wait=60"}, "r.tsv", 60, false, false},
      {{"--report", "a=b.tsv", "--max-wait", "0"}, "a=b.tsv", 0, false, false},
      {{"--max-wait=7", "--max-wait=8", "--dry-run"}, "", 8, true, false},
      {{"--only", "--dry", "--rep=x", "--max=9"}, "x", 9, true, true},
      // A report file whose name looks like an option is still the value.
      {{"--report", "--dry-run"}, "--dry-run", 600, false, false},
      {{"--only-missing", "--"}, "", 600, false, true},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.args);
    EXPECT_EQ(p.status, app::kCommandLineRun) << p.err;
    EXPECT_EQ(p.err, "");
    EXPECT_EQ(p.options.reportFile, c.report) << c.args[0];
    EXPECT_EQ(p.options.maxWait.count(), c.maxWait) << c.args[0];
    EXPECT_EQ(p.options.dryRun, c.dryRun) << c.args[0];
    EXPECT_EQ(p.options.onlyMissing, c.onlyMissing) << c.args[0];
  }
}

TEST(CommandLine, RefusalsNameTheOptionOrTheValue) {
  const std::string usage =
      "usage: lirenta-console [--report FILE] [--dry-run] [--only-missing] [--max-wait "
      "SECONDS]\n";
  struct Case {
    std::vector<const char*> args;
    std::string said;
    bool usage;
  };
  const std::vector<Case> cases = {
      {{"--bogus=1"}, "unknown option --bogus", true},
      {{"-x"}, "unknown option -x", true},
      {{"--dry-run=yes"}, "--dry-run takes no value", true},
      {{"--report="}, "--report needs a value", true},
      {{"--max-wait"}, "--max-wait needs a value", true},
      {{"--max-wait=1m"}, "--max-wait: \"1m\" is not a whole number of seconds (0 or more)", false},
      {{"--", "--dry-run"}, "unexpected argument --dry-run", true},
      {{"extra", "--dry-run"}, "unexpected argument extra", true},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.args);
    EXPECT_EQ(p.status, app::kCommandLineUsage) << c.said;
    EXPECT_EQ(p.err, "lirenta-console: " + c.said + "\n" + (c.usage ? usage : ""));
  }
}

}  // namespace
