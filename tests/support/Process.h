// Child processes for tests: start a program with extra environment, read what it wrote,
// wait for it (on its process descriptor, with a deadline), and never leave it running.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace test {

// The variables that name a proxy. A test never goes through the machine's proxy: a child
// inherits none of them, and a test that wants a proxy names its own.
inline constexpr const char* kProxyVariables[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                                  "HTTPS_PROXY", "no_proxy",   "NO_PROXY",
                                                  "all_proxy",   "ALL_PROXY"};

class ChildProcess {
 public:
  struct Options {
    std::vector<std::string> args;           // args[0] is the program path
    std::map<std::string, std::string> env;  // added to (or replacing in) the environment
    std::string workingDirectory;            // empty: inherit
    int passFd = -1;                         // handed to the child as its descriptor 3
  };

  // Starts the child with stdin from /dev/null and stdout and stderr to files.
  explicit ChildProcess(Options options);
  explicit ChildProcess(std::vector<std::string> args) : ChildProcess(Options{args, {}, {}, -1}) {}
  ~ChildProcess();  // kills the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Running();
  // Exit status (128 + signal when a signal ended it), or nullopt when it did not end within
  // `timeout` (the child keeps running).
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  // The first line the child wrote to stdout, without its LF; nullopt when the child ended or
  // `timeout` passed first.
  std::optional<std::string> FirstLine(std::chrono::milliseconds timeout);
  void Kill(int signal = 9);
  std::string Stdout() const;
  std::string Stderr() const;

 private:
  // Waits until the child ends or `fd` (when not -1) becomes readable, at most until `deadline`.
  void Await(int fd, std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int pidFd_ = -1;
  std::optional<int> status_;
  std::string dir_, outPath_, errPath_;
};

// Runs a shell command to its end (bounded by `timeout`) and returns its exit status; output is
// appended to `output` when given.
int RunCommand(const std::string& command, std::string* output = nullptr,
               std::chrono::seconds timeout = std::chrono::seconds(120));

// A fresh, empty temporary directory removed with everything in it on destruction; made in
// `parent` when one is named, else in the system's temporary folder.
class TempDir {
 public:
  explicit TempDir(const std::string& parent = {});
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
// The file's lines, without their line feeds.
std::vector<std::string> ReadLines(const std::string& path);
void CopyFile(const std::string& from, const std::string& to, bool executable = false);

}  // namespace test
