#include "tests/support/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace test {

namespace {
std::string MakeTempName(const char* prefix) {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/" + prefix + "XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return buf.data();
}
}  // namespace

ChildProcess::ChildProcess(Options options) {
  if (options.captureOutput) {
    std::string dir = MakeTempName("lirenta-child-");
    outPath_ = dir + "/stdout";
    errPath_ = dir + "/stderr";
  }
  // Build argv and envp before forking: only async-signal-safe calls after fork.
  std::map<std::string, std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string kv = *e;
    std::size_t eq = kv.find('=');
    if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  for (const auto& name : options.unsetEnv) env.erase(name);
  for (const auto& [k, v] : options.env) env[k] = v;
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> argv, envp;
  for (auto& a : options.args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  int outFd = -1, errFd = -1;
  if (options.captureOutput) {
    outFd = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    errFd = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    if (outFd >= 0) dup2(outFd, 1);
    if (errFd >= 0) dup2(errFd, 2);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
      _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (outFd >= 0) close(outFd);
  if (errFd >= 0) close(errFd);
  if (pid_ < 0) throw std::runtime_error("fork failed");
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    Kill(SIGKILL);
    Wait(std::chrono::milliseconds(5000));
  }
  if (!outPath_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(outPath_).parent_path(), ec);
  }
}

bool ChildProcess::Running() {
  if (status_) return false;
  int st = 0;
  pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == pid_) {
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return false;
  }
  return true;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

void ChildProcess::Kill(int signal) {
  if (pid_ > 0 && !status_) {
    kill(-pid_, signal);
    kill(pid_, signal);
  }
}

std::string ChildProcess::Stdout() const {
  return outPath_.empty() ? "" : ReadFile(outPath_);
}
std::string ChildProcess::Stderr() const {
  return errPath_.empty() ? "" : ReadFile(errPath_);
}

int RunCommand(const std::string& command, std::string* output, std::chrono::seconds timeout) {
  ChildProcess child({{"/bin/sh", "-c", command}, {}, {}, "", true});
  auto status = child.Wait(timeout);
  if (output != nullptr) *output += child.Stdout() + child.Stderr();
  return status ? *status : -1;
}

TempDir::TempDir() : path_(MakeTempName("lirenta-test-")) {}

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

void CopyFile(const std::string& from, const std::string& to, bool executable) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  if (executable) chmod(to.c_str(), 0755);
}

}  // namespace test
