#include "tests/support/PrivateServer.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/ScriptedServer.h"

namespace test {

namespace {

// How long the program may take to answer on its port, and to end once asked.
constexpr auto kStartDeadline = std::chrono::seconds(10);
constexpr auto kStopDeadline = std::chrono::seconds(5);
// A port found free may be taken by someone else before the program binds it: a few more tries.
constexpr int kStartTries = 3;

}  // namespace

PrivateServer::~PrivateServer() {
  if (!process_) return;
  // A master and its workers share the child's process group; all of it is signalled.
  process_->Kill(SIGTERM);
  if (!process_->Wait(kStopDeadline)) process_->Kill(SIGKILL);
}

bool PrivateServer::Start(const std::string& program, const std::string& package,
                          const Launch& launch, const Complaint& complaint) {
  if (process_) return reason_.empty();
  if (access(program.c_str(), X_OK) != 0) {
    reason_ = program + " is missing: make deps installs " + package;
    return false;
  }
  for (int attempt = 0; attempt < kStartTries; ++attempt) {
    port_ = FreeLoopbackPort();
    process_ = std::make_unique<ChildProcess>(launch(port_));
    const auto deadline = std::chrono::steady_clock::now() + kStartDeadline;
    while (process_->Running() && !PortAnswers(port_) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (process_->Running() && PortAnswers(port_)) {
      reason_.clear();
      return true;
    }
    reason_ = program + " did not answer on port " + std::to_string(port_) + ": " +
              process_->Stderr() + complaint();
    process_->Kill(SIGKILL);
    process_->Wait(kStopDeadline);
  }
  return false;
}

}  // namespace test
