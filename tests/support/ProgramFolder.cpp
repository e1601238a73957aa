#include "tests/support/ProgramFolder.h"

#include "runtime/Text.h"

namespace test {

namespace {
// Longest whole run of a program in the tests.
constexpr auto kRunDeadline = std::chrono::seconds(60);
}  // namespace

ProgramFolder::ProgramFolder(const std::string& program) : program_(dir_.File(program)) {
  CopyFile(std::string(LIRENTA_BIN_DIR) + "/" + program, program_, true);
}

void ProgramFolder::Settings(const std::string& databaseName) {
  WriteFile(dir_.File("BaseKavro.ini"), "[BANCO]\r\nCAMINHO=" + databaseName + "\r\n");
}

std::unique_ptr<ChildProcess> ProgramFolder::Start(const std::string& baseUrl,
                                                   const std::vector<std::string>& args,
                                                   const std::map<std::string, std::string>& env) {
  ChildProcess::Options options{{program_}, env, "/", -1};
  options.args.insert(options.args.end(), args.begin(), args.end());
  options.env["LIRENTA_LYRICS_URL"] = baseUrl;
  return std::make_unique<ChildProcess>(std::move(options));
}

ProgramOutcome ProgramFolder::Run(const std::string& baseUrl, const std::vector<std::string>& args,
                                  const std::map<std::string, std::string>& env) {
  auto child = Start(baseUrl, args, env);
  auto status = child->Wait(kRunDeadline);
  if (!status) child->Kill();
  return {status.value_or(-1), child->Stdout(), child->Stderr()};
}

std::string Utf8(const std::string& windows1252) {
  return rt::Win1252ToUtf8(windows1252);
}

}  // namespace test
