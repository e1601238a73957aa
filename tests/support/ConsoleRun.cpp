#include "tests/support/ConsoleRun.h"

#include "runtime/Text.h"

namespace test {

ConsoleFolder::ConsoleFolder() : program_(dir_.File("lirenta-console")) {
  CopyFile(std::string(LIRENTA_BIN_DIR) + "/lirenta-console", program_, true);
}

void ConsoleFolder::Settings(const std::string& databaseName) {
  WriteFile(dir_.File("BaseKavro.ini"), "[BANCO]\r\nCAMINHO=" + databaseName + "\r\n");
}

std::unique_ptr<ChildProcess> ConsoleFolder::Start(const std::string& baseUrl,
                                                   const std::vector<std::string>& args,
                                                   const std::map<std::string, std::string>& env) {
  ChildProcess::Options options{{program_}, env, {}, "/", true};
  options.args.insert(options.args.end(), args.begin(), args.end());
  options.env["LIRENTA_LYRICS_URL"] = baseUrl;
  return std::make_unique<ChildProcess>(std::move(options));
}

ConsoleOutcome ConsoleFolder::Run(const std::string& baseUrl, std::chrono::milliseconds deadline) {
  return Run(baseUrl, {}, {}, deadline);
}

ConsoleOutcome ConsoleFolder::Run(const std::string& baseUrl, const std::vector<std::string>& args,
                                  const std::map<std::string, std::string>& env,
                                  std::chrono::milliseconds deadline) {
  auto child = Start(baseUrl, args, env);
  ConsoleOutcome outcome;
  auto status = child->Wait(deadline);
  if (!status) child->Kill();
  outcome.status = status ? *status : -1;
  outcome.out = child->Stdout();
  outcome.err = child->Stderr();
  return outcome;
}

std::string Utf8(const std::string& windows1252) {
  return rt::Win1252ToUtf8(windows1252);
}

}  // namespace test
