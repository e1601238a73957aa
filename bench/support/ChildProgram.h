// A program started by a benchmark: its output sent to files or read through a pipe, its end
// awaited with a deadline, its wall time and peak resident memory taken from the kernel.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace bench {

struct ChildExit {
  int status = -1;          // exit status, or 128 + signal number
  double seconds = 0;       // from just before fork to the end
  long peakResidentKb = 0;  // ru_maxrss of the child
  double cpuSeconds = 0;    // user and system time of the child
  double userSeconds = 0;   // the two parts of cpuSeconds
  double systemSeconds = 0;
};

class ChildProgram {
 public:
  struct Options {
    std::vector<std::string> args;  // args[0] is the program's path
    std::vector<std::string> env;   // "NAME=value" entries added to the environment
    std::string workingDirectory;   // empty: inherit
    std::string stdoutPath;         // empty: /dev/null
    bool pipeStderr = false;        // true: read it with ReadStderrLine; else /dev/null
  };

  // Starts the program; raises std::runtime_error when it cannot be started.
  explicit ChildProgram(const Options& options);
  // Kills the program if it still runs, and reaps it.
  ~ChildProgram();
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  pid_t Pid() const { return pid_; }
  std::chrono::steady_clock::time_point Started() const { return started_; }
  // The next line the program writes on standard error (without its line end), or nothing
  // when the deadline passes or the stream ends first.
  std::optional<std::string> ReadStderrLine(std::chrono::milliseconds deadline);
  // Waits for the end; nothing when the deadline passes first (the program keeps running).
  std::optional<ChildExit> Wait(std::chrono::milliseconds deadline);
  void Signal(int signal);

 private:
  pid_t pid_ = -1;
  int pidFd_ = -1;
  int errFd_ = -1;
  std::string errBuffer_;
  std::chrono::steady_clock::time_point started_;
  std::optional<ChildExit> exit_;
};

}  // namespace bench
