#include "bench/support/ChildProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace bench {

namespace {

// Bytes taken from the standard-error pipe per read.
constexpr std::size_t kReadChunk = 4096;

int RemainingMs(std::chrono::steady_clock::time_point end) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : int(left.count());
}

}  // namespace

ChildProgram::ChildProgram(const Options& options) {
  if (options.args.empty()) throw std::runtime_error("no program to start");
  // Everything the child needs is built before fork: only async-signal-safe calls after it.
  std::vector<std::string> args = options.args;
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
  for (const std::string& added : options.env) {
    const std::string name = added.substr(0, added.find('=') + 1);
    std::erase_if(envStrings, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
    envStrings.push_back(added);
  }
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  const std::string outPath = options.stdoutPath.empty() ? "/dev/null" : options.stdoutPath;
  int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (outFd < 0) throw std::runtime_error("cannot open " + outPath);
  int errPipe[2] = {-1, -1};
  int nullFd = -1;
  if (options.pipeStderr) {
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
      close(outFd);
      throw std::runtime_error("cannot make a pipe");
    }
  } else {
    nullFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  }
  const int childErr = options.pipeStderr ? errPipe[1] : nullFd;
  const char* workDir =
      options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();

  started_ = std::chrono::steady_clock::now();
  pid_ = fork();
  if (pid_ == 0) {
    int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    dup2(outFd, 1);
    dup2(childErr, 2);
    if (workDir != nullptr && chdir(workDir) != 0) _exit(127);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(outFd);
  if (nullFd >= 0) close(nullFd);
  if (options.pipeStderr) {
    close(errPipe[1]);
    errFd_ = errPipe[0];
  }
  if (pid_ < 0) {
    if (errFd_ >= 0) close(errFd_);
    throw std::runtime_error("fork failed");
  }
  pidFd_ = int(syscall(SYS_pidfd_open, pid_, 0));
}

ChildProgram::~ChildProgram() {
  if (!exit_) {
    Signal(SIGKILL);
    Wait(std::chrono::seconds(10));
  }
  if (pidFd_ >= 0) close(pidFd_);
  if (errFd_ >= 0) close(errFd_);
}

void ChildProgram::Signal(int signal) {
  if (pid_ > 0 && !exit_) kill(pid_, signal);
}

std::optional<std::string> ChildProgram::ReadStderrLine(std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    const std::size_t eol = errBuffer_.find('\n');
    if (eol != std::string::npos) {
      std::string line = errBuffer_.substr(0, eol);
      errBuffer_.erase(0, eol + 1);
      return line;
    }
    if (errFd_ < 0) return std::nullopt;
    pollfd p{errFd_, POLLIN, 0};
    const int ready = poll(&p, 1, RemainingMs(end));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char chunk[kReadChunk];
    const ssize_t n = read(errFd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(errFd_);
      errFd_ = -1;
      return std::nullopt;
    }
    errBuffer_.append(chunk, std::size_t(n));
  }
}

std::optional<ChildExit> ChildProgram::Wait(std::chrono::milliseconds deadline) {
  if (exit_) return exit_;
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    int status = 0;
    rusage usage{};
    const pid_t done = wait4(pid_, &status, WNOHANG, &usage);
    if (done == pid_) {
      const auto now = std::chrono::steady_clock::now();
      ChildExit result;
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      result.seconds = std::chrono::duration<double>(now - started_).count();
      result.peakResidentKb = usage.ru_maxrss;
      result.userSeconds = double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6;
      result.systemSeconds = double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6;
      result.cpuSeconds = result.userSeconds + result.systemSeconds;
      exit_ = result;
      return exit_;
    }
    if (done < 0 && errno != EINTR) throw std::runtime_error("wait4 failed");
    const int left = RemainingMs(end);
    if (left == 0) return std::nullopt;
    // The pid file descriptor becomes readable the moment the child ends; without one, look
    // again after a millisecond. Standard error is drained meanwhile so that a full pipe
    // cannot stop the child.
    pollfd p[2] = {{pidFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    const int ready = poll(p, 2, pidFd_ >= 0 ? left : std::min(left, 1));
    if (ready > 0 && errFd_ >= 0 && (p[1].revents & (POLLIN | POLLHUP)) != 0) {
      char chunk[kReadChunk];
      const ssize_t n = read(errFd_, chunk, sizeof chunk);
      if (n > 0) {
        errBuffer_.append(chunk, std::size_t(n));
      } else if (n == 0 || errno != EINTR) {
        close(errFd_);
        errFd_ = -1;
      }
    }
  }
}

}  // namespace bench
