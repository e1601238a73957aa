// lirenta-console as built, copied into a folder of its own with a settings file, run to its
// end against a lyrics site address.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Process.h"

namespace test {

struct ConsoleOutcome {
  int status = -1;  // -1: killed after the deadline
  std::string out;  // message boxes, UTF-8, one per line
  std::string err;  // labels and progress
};

class ConsoleFolder {
 public:
  ConsoleFolder();
  // Writes BaseKavro.ini naming `databaseName`.
  void Settings(const std::string& databaseName);
  // Runs the program with LIRENTA_LYRICS_URL set to `baseUrl`; kills it after `deadline`.
  ConsoleOutcome Run(const std::string& baseUrl,
                     std::chrono::milliseconds deadline = std::chrono::seconds(60));
  // The same with `args` after the program's name and `env` added to its environment.
  ConsoleOutcome Run(const std::string& baseUrl, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env,
                     std::chrono::milliseconds deadline = std::chrono::seconds(60));
  // Starts the program and returns at once; the caller waits for it.
  std::unique_ptr<ChildProcess> Start(const std::string& baseUrl,
                                      const std::vector<std::string>& args = {},
                                      const std::map<std::string, std::string>& env = {});
  const TempDir& Folder() const { return dir_; }

 private:
  TempDir dir_;
  std::string program_;
};

// The UTF-8 form of a Windows-1252 text, as the console program prints it.
std::string Utf8(const std::string& windows1252);

}  // namespace test
