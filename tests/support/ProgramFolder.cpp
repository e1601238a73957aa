#include "tests/support/ProgramFolder.h"

#include <sys/stat.h>

#include "runtime/Text.h"

namespace test {

namespace {
// Longest whole run of a program in the tests.
constexpr auto kRunDeadline = std::chrono::seconds(60);
// A user's program folder lies outside /tmp, which a run as that user replaces.
constexpr const char* kUserFolderParent = "/var/tmp";
}  // namespace

ProgramFolder::ProgramFolder(const std::string& program) : program_(dir_.File(program)) {
  CopyFile(std::string(LIRENTA_BIN_DIR) + "/" + program, program_, true);
}

ProgramFolder::ProgramFolder(const std::string& program, const OrdinaryUser& user)
    : dir_(kUserFolderParent), program_(dir_.File(program)), user_(user) {
  HandTo(dir_.Path(), user, 0755);
  CopyFile(std::string(LIRENTA_BIN_DIR) + "/" + program, program_, true);
}

std::string ProgramFolder::Give(const std::string& from, const std::string& name,
                                mode_t mode) const {
  const std::string to = dir_.File(name);
  CopyFile(from, to);
  if (user_)
    HandTo(to, *user_, mode);
  else
    chmod(to.c_str(), mode);
  return to;
}

void ProgramFolder::Settings(const std::string& databaseName) {
  WriteFile(dir_.File("BaseKavro.ini"), "[BANCO]\r\nCAMINHO=" + databaseName + "\r\n");
}

std::string ProgramFolder::Settings(const std::string& databaseName, const std::string& moreLines,
                                    mode_t mode) {
  const std::string path = dir_.File("BaseKavro.ini");
  WriteFile(path, "[BANCO]\r\nCAMINHO=" + databaseName + "\r\n" + moreLines);
  if (user_)
    HandTo(path, *user_, mode);
  else
    chmod(path.c_str(), mode);
  return path;
}

std::unique_ptr<ChildProcess> ProgramFolder::Start(const std::string& baseUrl,
                                                   const std::vector<std::string>& args,
                                                   const std::map<std::string, std::string>& env) {
  ChildProcess::Options options{{program_}, env, "/", -1};
  options.args.insert(options.args.end(), args.begin(), args.end());
  if (user_) options.args = AsUser(*user_, options.args, rootFirst_);
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

std::string SummaryLine(int lookedUp, int found, int written, int skipped) {
  return Utf8("Resumo: " + std::to_string(lookedUp) + " m\xFAsicas consultadas, " +
              std::to_string(found) + " compositores encontrados, " + std::to_string(written) +
              " registros gravados, " + std::to_string(skipped) + " m\xFAsicas puladas.");
}

}  // namespace test
