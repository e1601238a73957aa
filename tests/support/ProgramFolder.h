// A program as built (lirenta-console, or the window program lirenta), copied into a folder of
// its own with a settings file, and run against a lyrics site address.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/OrdinaryUser.h"
#include "tests/support/Process.h"

namespace test {

struct ProgramOutcome {
  int status = -1;  // -1: killed after the deadline
  std::string out;  // message boxes, UTF-8, one per line
  std::string err;  // labels and progress
};

class ProgramFolder {
 public:
  explicit ProgramFolder(const std::string& program = "lirenta-console");
  // The folder belongs to `user`, lies in /var/tmp, and the program runs as `user`
  // (tests/support/OrdinaryUser.h).
  ProgramFolder(const std::string& program, const OrdinaryUser& user);
  // Writes BaseKavro.ini naming `databaseName`.
  void Settings(const std::string& databaseName);
  // The same with `moreLines` ("USUARIO=...\r\n") in its section, with `mode`, owned by the
  // folder's user (when it has one); returns its path.
  std::string Settings(const std::string& databaseName, const std::string& moreLines, mode_t mode);
  // Starts the program with LIRENTA_LYRICS_URL set to `baseUrl`, `args` after its name and
  // `env` added to its environment, and returns at once.
  std::unique_ptr<ChildProcess> Start(const std::string& baseUrl,
                                      const std::vector<std::string>& args = {},
                                      const std::map<std::string, std::string>& env = {});
  // The same, run to its end; killed after a minute.
  ProgramOutcome Run(const std::string& baseUrl, const std::vector<std::string>& args = {},
                     const std::map<std::string, std::string>& env = {});
  const TempDir& Folder() const { return dir_; }
  // For a program run as a user: a shell command root runs first in the user's namespace.
  void RootFirst(const std::string& command) { rootFirst_ = command; }
  // Copies `from` into the folder as `name`, with `mode`, owned by the folder's user (when it
  // has one); returns its path.
  std::string Give(const std::string& from, const std::string& name, mode_t mode = 0600) const;

 private:
  TempDir dir_;
  std::string program_;
  std::optional<OrdinaryUser> user_;
  std::string rootFirst_;
};

// The UTF-8 form of a Windows-1252 text, as the console program prints it.
std::string Utf8(const std::string& windows1252);

// The summary line a console run writes on standard error (UTF-8, without its line feed).
std::string SummaryLine(int lookedUp, int found, int written, int skipped);

// The console program's lines (UTF-8) for the completion and the failed connection.
inline const std::string kCompletedLine =
    "Atualiza\xC3\xA7\xC3\xA3o conclu\xC3\xAD"
    "da.\n";
inline const std::string kConnectFailedLine =
    "N\xC3\xA3o foi poss\xC3\xADvel conectar com a Base de Dados.\n";

}  // namespace test
