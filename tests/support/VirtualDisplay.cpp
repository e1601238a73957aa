#include "tests/support/VirtualDisplay.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace test {

namespace {
// Display numbers tried; high enough to stay clear of a developer's own displays.
constexpr int kFirstDisplay = 90;
constexpr int kLastDisplay = 199;
// How long Xvfb may take to open its socket.
constexpr auto kStartDeadline = std::chrono::seconds(10);

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}
}  // namespace

VirtualDisplay::VirtualDisplay(int width, int height) {
  // A number just given up may still be held by the server that is shutting down on it, so
  // each display of this process takes a new number.
  static int next = kFirstDisplay;
  for (int n = next; n <= kLastDisplay; ++n) {
    std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    if (Exists(lock) || Exists(socket)) continue;
    std::string display = ":" + std::to_string(n);
    auto server = std::make_unique<ChildProcess>(
        ChildProcess::Options{{"/usr/bin/Xvfb", display, "-screen", "0",
                               std::to_string(width) + "x" + std::to_string(height) + "x24",
                               "-nolisten", "tcp", "-noreset"},
                              {},
                              {},
                              "",
                              true});
    auto deadline = std::chrono::steady_clock::now() + kStartDeadline;
    while (std::chrono::steady_clock::now() < deadline && server->Running() && !Exists(socket))
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (server->Running() && Exists(socket)) {
      name_ = display;
      // The socket may appear a moment before the server answers.
      bool answers = false;
      for (int i = 0; i < 100 && !(answers = Run("xdpyinfo >/dev/null 2>&1") == 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (answers && server->Running()) {
        server_ = std::move(server);
        next = n + 1;
        return;
      }
      name_.clear();
      server->Kill(SIGKILL);
      server->Wait(std::chrono::seconds(5));
      continue;
    }
    // Another server took this number meanwhile: try the next one.
  }
}

VirtualDisplay::~VirtualDisplay() {
  if (server_) {
    server_->Kill(SIGTERM);
    if (!server_->Wait(std::chrono::seconds(5))) server_->Kill(SIGKILL);
  }
}

int VirtualDisplay::Run(const std::string& command, std::string* output) const {
  return RunCommand("DISPLAY=" + name_ + " " + command, output, std::chrono::seconds(30));
}

}  // namespace test
