#include "tests/support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace test {

namespace {
using Clock = std::chrono::steady_clock;

std::string MakeTempName(const char* prefix, const std::string& parent = {}) {
  std::string pattern =
      (parent.empty() ? std::filesystem::temp_directory_path().string() : parent) + "/" + prefix +
      "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}
}  // namespace

ChildProcess::ChildProcess(Options options) : dir_(MakeTempName("lirenta-child-")) {
  outPath_ = dir_ + "/stdout";
  errPath_ = dir_ + "/stderr";
  // Build argv and envp before forking: only async-signal-safe calls after fork.
  std::map<std::string, std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string kv = *e;
    std::size_t eq = kv.find('=');
    if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  for (const char* name : kProxyVariables) env.erase(name);
  for (const auto& [k, v] : options.env) env[k] = v;
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> argv, envp;
  for (auto& a : options.args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  const int outFd = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int errFd = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    // dup2 clears close-on-exec on the copies; a descriptor already in place keeps it.
    dup2(devNull, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    if (options.passFd == 3)
      fcntl(3, F_SETFD, 0);
    else if (options.passFd >= 0)
      dup2(options.passFd, 3);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
      _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(outFd);
  close(errFd);
  close(devNull);
  if (pid_ < 0) throw std::runtime_error("fork failed");
  pidFd_ = int(syscall(SYS_pidfd_open, pid_, 0));
  if (pidFd_ < 0) throw std::runtime_error("pidfd_open failed");
}

ChildProcess::~ChildProcess() {
  if (!status_) {
    Kill(SIGKILL);
    Wait(std::chrono::milliseconds(5000));
  }
  close(pidFd_);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

bool ChildProcess::Running() {
  if (status_) return false;
  int st = 0;
  if (waitpid(pid_, &st, WNOHANG) != pid_) return true;
  status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return false;
}

void ChildProcess::Await(int fd, Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return;
  pollfd fds[2] = {{pidFd_, POLLIN, 0}, {fd, POLLIN, 0}};
  poll(fds, fd < 0 ? 1 : 2, int(left));
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Running() && Clock::now() < deadline) Await(-1, deadline);
  return Running() ? std::nullopt : status_;
}

std::optional<std::string> ChildProcess::FirstLine(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  // Watched before the first look, so no write between the look and the wait goes unseen.
  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  inotify_add_watch(watch, outPath_.c_str(), IN_MODIFY);
  std::optional<std::string> line;
  for (;;) {
    const bool ended = !Running();
    const std::string out = Stdout();
    if (std::size_t eol = out.find('\n'); eol != std::string::npos) {
      line = out.substr(0, eol);
      break;
    }
    if (ended || Clock::now() >= deadline) break;
    Await(watch, deadline);
    char events[4096];
    while (read(watch, events, sizeof events) > 0) {
    }
  }
  close(watch);
  return line;
}

void ChildProcess::Kill(int signal) {
  if (!status_) {
    kill(-pid_, signal);
    kill(pid_, signal);
  }
}

std::string ChildProcess::Stdout() const {
  return ReadFile(outPath_);
}
std::string ChildProcess::Stderr() const {
  return ReadFile(errPath_);
}

int RunCommand(const std::string& command, std::string* output, std::chrono::seconds timeout) {
  ChildProcess child(std::vector<std::string>{"/bin/sh", "-c", command});
  auto status = child.Wait(timeout);
  if (output != nullptr) *output += child.Stdout() + child.Stderr();
  return status ? *status : -1;
}

TempDir::TempDir(const std::string& parent) : path_(MakeTempName("lirenta-test-", parent)) {}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void CopyFile(const std::string& from, const std::string& to, bool executable) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  if (executable) chmod(to.c_str(), 0755);
}

}  // namespace test
