#include "tests/support/NginxSite.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "runtime/Text.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ScriptedServer.h"

namespace test {

namespace {

constexpr const char* kNginxProgram = "/usr/sbin/nginx";
// How long nginx may take to answer on its port, and to end once asked.
constexpr auto kStartDeadline = std::chrono::seconds(10);
constexpr auto kStopDeadline = std::chrono::seconds(5);
// A port found free may be taken by someone else before nginx binds it: a few more tries.
constexpr int kStartTries = 3;

// Everything nginx writes or serves lies in @DIR@; the access log gives each request's status
// and request line.
constexpr const char* kConfiguration = R"(daemon off;
master_process on;
worker_processes 1;
pid @DIR@/nginx.pid;
error_log @DIR@/error.log;
events { worker_connections 64; }
http {
  default_type text/html;
  log_format answered '$status $request';
  access_log @DIR@/access.log answered;
  client_body_temp_path @DIR@/tmp/body;
  proxy_temp_path @DIR@/tmp/proxy;
  fastcgi_temp_path @DIR@/tmp/fastcgi;
  uwsgi_temp_path @DIR@/tmp/uwsgi;
  scgi_temp_path @DIR@/tmp/scgi;
@HTTP@
  server {
    listen 127.0.0.1:@PORT@;
    root @DIR@/pages;
  }
}
)";

}  // namespace

NginxSite::NginxSite(std::string httpDirectives) : httpDirectives_(std::move(httpDirectives)) {
  // nginx started by root serves through workers that run as nobody: the folder must be
  // theirs to read.
  chmod(dir_.Path().c_str(), 0755);
  std::filesystem::create_directories(dir_.File("pages"));
  std::filesystem::create_directories(dir_.File("tmp"));
}

NginxSite::~NginxSite() {
  if (!process_) return;
  // The master and its workers share the child's process group; all of it is signalled.
  process_->Kill(SIGTERM);
  if (!process_->Wait(kStopDeadline)) process_->Kill(SIGKILL);
}

void NginxSite::AddPage(const std::string& path, const std::string& body) {
  WritePage(dir_.File("pages"), path, body);
}

std::string NginxSite::Configuration() const {
  std::string text = rt::ReplaceAll(kConfiguration, "@DIR@", dir_.Path());
  text = rt::ReplaceAll(text, "@PORT@", std::to_string(port_));
  return rt::ReplaceAll(text, "@HTTP@", httpDirectives_);
}

bool NginxSite::Start() {
  if (process_) return reason_.empty();
  if (access(kNginxProgram, X_OK) != 0) {
    reason_ = std::string(kNginxProgram) + " is missing: make deps installs nginx";
    return false;
  }
  for (int attempt = 0; attempt < kStartTries; ++attempt) {
    port_ = FreeLoopbackPort();
    WriteFile(dir_.File("nginx.conf"), Configuration());
    // -e: the error log from the start, before the configuration names it (nginx would open
    // the machine's log first).
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{kNginxProgram, "-p", dir_.Path() + "/", "-c",
                                 dir_.File("nginx.conf"), "-e", dir_.File("error.log")});
    const auto deadline = std::chrono::steady_clock::now() + kStartDeadline;
    while (process_->Running() && !PortAnswers(port_) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (process_->Running() && PortAnswers(port_)) {
      reason_.clear();
      return true;
    }
    reason_ = "nginx did not serve on port " + std::to_string(port_) + ": " + process_->Stderr() +
              ReadFile(dir_.File("error.log"));
    process_->Kill(SIGKILL);
    process_->Wait(kStopDeadline);
  }
  return false;
}

std::vector<std::string> NginxSite::Answered() const {
  return ReadLines(dir_.File("access.log"));
}

}  // namespace test
