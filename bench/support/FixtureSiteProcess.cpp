#include "bench/support/FixtureSiteProcess.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "bench/support/SongCorpus.h"

namespace bench {

namespace {

// How long the site may take to print its port.
constexpr auto kStartDeadline = std::chrono::seconds(10);
// The site ends by itself after this long without a request, should the benchmark die.
constexpr const char* kIdleSeconds = "900";

}  // namespace

FixtureSiteProcess::FixtureSiteProcess(const std::string& program, const std::string& root,
                                       const std::vector<std::string>& extraArgs) {
  char name[] = "/tmp/lirenta-bench-site-port-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) throw std::runtime_error("no temporary file for the site's port");
  close(fd);
  portFile_ = name;
  ChildProgram::Options options;
  options.args = {program,      "--root",   root,
                  "--port",     "0",        "--idle-seconds",
                  kIdleSeconds, "--header", std::string("Content-Type: ") + kPageContentType};
  options.args.insert(options.args.end(), extraArgs.begin(), extraArgs.end());
  options.stdoutPath = portFile_;
  process_ = std::make_unique<ChildProgram>(options);

  const auto end = std::chrono::steady_clock::now() + kStartDeadline;
  while (std::chrono::steady_clock::now() < end) {
    std::ifstream in(portFile_);
    std::string line;
    if (std::getline(in, line) && !in.eof()) {
      port_ = uint16_t(std::atoi(line.c_str()));
      if (port_ != 0) return;
    }
    if (process_->Wait(std::chrono::milliseconds(0))) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::remove(portFile_.c_str());
  throw std::runtime_error("the fixture site did not start: " + program);
}

FixtureSiteProcess::~FixtureSiteProcess() {
  process_->Signal(SIGTERM);
  process_->Wait(std::chrono::seconds(5));
  process_.reset();  // kills it if SIGTERM was not enough
  std::remove(portFile_.c_str());
}

}  // namespace bench
