#include "tests/support/VirtualDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>

namespace test {

namespace {
// How long Xvfb may take until it takes connections.
constexpr int kStartDeadlineMs = 10000;
}  // namespace

VirtualDisplay::VirtualDisplay(int width, int height) {
  // With -displayfd, Xvfb takes the first free display number itself and writes it to the
  // descriptor once it takes connections; an end of the pipe without a number is a failure.
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return;
  server_ = std::make_unique<ChildProcess>(
      ChildProcess::Options{{"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0",
                             std::to_string(width) + "x" + std::to_string(height) + "x24",
                             "-nolisten", "tcp", "-noreset"},
                            {},
                            "",
                            ready[1]});
  close(ready[1]);
  std::string number;
  pollfd p{ready[0], POLLIN, 0};
  char buffer[16];
  ssize_t n;
  while (number.find('\n') == std::string::npos && poll(&p, 1, kStartDeadlineMs) == 1 &&
         (n = read(ready[0], buffer, sizeof buffer)) > 0)
    number.append(buffer, std::size_t(n));
  close(ready[0]);
  if (number.find('\n') != std::string::npos) name_ = ":" + number.substr(0, number.find('\n'));
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
