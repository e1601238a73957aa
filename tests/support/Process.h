// Child processes for tests: start a program with extra environment, read what it wrote,
// wait for it with a deadline, and never leave it running.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace test {

class ChildProcess {
 public:
  struct Options {
    std::vector<std::string> args;           // args[0] is the program path
    std::map<std::string, std::string> env;  // added to (or replacing in) the environment
    std::vector<std::string> unsetEnv;       // removed from the environment
    std::string workingDirectory;            // empty: inherit
    bool captureOutput = true;               // stdout and stderr to files read by Output()
  };

  explicit ChildProcess(Options options);
  ~ChildProcess();  // kills the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Running();
  // Exit status, or nullopt when it did not end within `timeout` (the child keeps running).
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  void Kill(int signal = 9);
  std::string Stdout() const;
  std::string Stderr() const;

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string outPath_, errPath_;
};

// Runs a shell command to its end (bounded by `timeout`) and returns its exit status; output is
// appended to `output` when given.
int RunCommand(const std::string& command, std::string* output = nullptr,
               std::chrono::seconds timeout = std::chrono::seconds(120));

// A fresh, empty temporary directory removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
void CopyFile(const std::string& from, const std::string& to, bool executable = false);

}  // namespace test
