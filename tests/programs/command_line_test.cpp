// The command line of both programs as built: one help text and one set of options, each
// program naming itself on the first line; --help and --version answer without a display, and
// a refusal names what is wrong and ends the program with status 2 before it opens anything
// (no settings file lies beside the programs: opening anything would say so on standard output,
// and the window program would say it cannot open the display).
#include <gtest/gtest.h>

#include "tests/support/ProgramFolder.h"

namespace {

const std::map<std::string, std::string> kNoDisplay = {{"DISPLAY", ":4711"}};
const char* const kPrograms[] = {"lirenta", "lirenta-console"};

std::string UsageLine(const std::string& program) {
  return "usage: " + program +
         " [--report FILE] [--dry-run] [--only-missing] [--max-wait SECONDS]\n";
}

TEST(CommandLine, HelpAndVersionAnswerWithoutADisplayAndTheHelpIsOneText) {
  std::vector<std::string> bodies;
  for (const std::string program : kPrograms) {
    test::ProgramFolder folder(program);
    test::ProgramOutcome run = folder.Run("", {"--help"}, kNoDisplay);
    EXPECT_EQ(run.status, 0) << program << run.err;
    EXPECT_EQ(run.err, "") << program;
    ASSERT_EQ(run.out.rfind(UsageLine(program), 0), 0u) << run.out;
    bodies.push_back(run.out.substr(UsageLine(program).size()));
    EXPECT_NE(bodies.back().find("  --max-wait SECONDS  "), std::string::npos) << run.out;

    run = folder.Run("", {"--only-missing", "--version"}, kNoDisplay);
    EXPECT_EQ(run.status, 0) << program << run.err;
    EXPECT_EQ(run.out, program + " " LIRENTA_VERSION "\n");
  }
  EXPECT_EQ(bodies[0], bodies[1]);
}

TEST(CommandLine, RefusalsNameWhatIsWrongAndEndWithStatusTwoBeforeAnythingOpens) {
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    std::string said;  // after "PROGRAM: "
    bool usage;        // the usage line follows
  };
  const std::vector<Case> cases = {
      {{"--bogus"}, {}, "unknown option --bogus\n", true},
      {{"--report", "r.tsv", "extra"}, {}, "unexpected argument extra\n", true},
      {{"--max-wait=x"},
       {},
       "--max-wait: \"x\" is not a whole number of seconds (0 or more)\n",
       false},
      {{"--report"}, {}, "--report needs a value\n", true},
      {{"--max-wait", ""}, {}, "--max-wait needs a value\n", true},
      {{"--max-wait", "1.5"},
       {},
       "--max-wait: \"1.5\" is not a whole number of seconds (0 or more)\n",
       false},
      {{},
       {{"LIRENTA_MAX_WAIT", "-1"}},
       "LIRENTA_MAX_WAIT: \"-1\" is not a whole number of seconds (0 or more)\n",
       false},
  };
  for (const std::string program : kPrograms) {
    test::ProgramFolder folder(program);
    for (const Case& c : cases) {
      std::map<std::string, std::string> env = kNoDisplay;
      env.insert(c.env.begin(), c.env.end());
      test::ProgramOutcome run = folder.Run("", c.args, env);
      EXPECT_EQ(run.status, 2) << program << " " << c.said;
      EXPECT_EQ(run.out, "") << program << " " << c.said;
      EXPECT_EQ(run.err, program + ": " + c.said + (c.usage ? UsageLine(program) : ""));
    }
  }
}

}  // namespace
