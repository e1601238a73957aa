#include "tests/support/TinyProxy.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "runtime/Text.h"
#include "tests/support/ScriptedServer.h"

namespace test {

namespace {

constexpr const char* kTinyProxyProgram = "/usr/bin/tinyproxy";
// How long tinyproxy may take to listen on its port, and to end once asked.
constexpr auto kStartDeadline = std::chrono::seconds(10);
constexpr auto kStopDeadline = std::chrono::seconds(5);
// A port found free may be taken by someone else before tinyproxy binds it: a few more tries.
constexpr int kStartTries = 3;

// Clients from the loopback only; no ConnectPort line, so a tunnel may go to any port; the log
// at Info names every request.
constexpr const char* kConfiguration = R"(Port @PORT@
Listen 127.0.0.1
Timeout 30
MaxClients 20
Allow 127.0.0.1
LogFile "@DIR@/tinyproxy.log"
LogLevel Info
PidFile "@DIR@/tinyproxy.pid"
)";

}  // namespace

TinyProxy::TinyProxy(std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)) {}

TinyProxy::~TinyProxy() {
  if (!process_) return;
  process_->Kill(SIGTERM);
  if (!process_->Wait(kStopDeadline)) process_->Kill(SIGKILL);
}

std::string TinyProxy::Url(const std::string& credentials) const {
  return "http://" + (credentials.empty() ? "" : credentials + "@") +
         "127.0.0.1:" + std::to_string(port_);
}

bool TinyProxy::Start() {
  if (process_) return reason_.empty();
  if (access(kTinyProxyProgram, X_OK) != 0) {
    reason_ = std::string(kTinyProxyProgram) + " is missing: make deps installs tinyproxy-bin";
    return false;
  }
  for (int attempt = 0; attempt < kStartTries; ++attempt) {
    port_ = FreeLoopbackPort();
    std::string text = rt::ReplaceAll(kConfiguration, "@DIR@", dir_.Path());
    text = rt::ReplaceAll(text, "@PORT@", std::to_string(port_));
    if (!user_.empty()) text += "BasicAuth " + user_ + " " + password_ + "\n";
    WriteFile(dir_.File("tinyproxy.conf"), text);
    // -d: in the foreground, so that the process started is the one stopped.
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{kTinyProxyProgram, "-d", "-c", dir_.File("tinyproxy.conf")});
    const auto deadline = std::chrono::steady_clock::now() + kStartDeadline;
    while (process_->Running() && !PortAnswers(port_) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (process_->Running() && PortAnswers(port_)) {
      reason_.clear();
      return true;
    }
    reason_ = "tinyproxy did not listen on port " + std::to_string(port_) + ": " +
              process_->Stderr() + Log();
    process_->Kill(SIGKILL);
    process_->Wait(kStopDeadline);
  }
  return false;
}

}  // namespace test
