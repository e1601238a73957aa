#include "tests/support/LyricsSite.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

namespace test {

namespace {
// How long the site may take to print its port.
constexpr auto kStartDeadline = std::chrono::seconds(10);
}  // namespace

LyricsSite::LyricsSite(std::vector<std::string> extraArgs)
    : root_(dir_.File("site")), log_(dir_.File("requests.log")), extraArgs_(std::move(extraArgs)) {
  std::filesystem::create_directories(root_);
}

LyricsSite::~LyricsSite() {
  if (process_) {
    process_->Kill(SIGTERM);
    if (!process_->Wait(std::chrono::seconds(5))) process_->Kill(SIGKILL);
  }
}

void LyricsSite::AddPage(const std::string& path, const std::string& body) {
  std::filesystem::path full = std::filesystem::path(root_) / path;
  std::filesystem::create_directories(full.parent_path());
  WriteFile(full.string(), body);
}

void LyricsSite::AddComposerPage(const std::string& path, const std::string& composer) {
  AddPage(path,
          "<html><body><h1>Letra</h1>\n<p>Versos da can\xE7\xE3o.</p>\n"
          "<p class=\"ficha\">Compositor: " +
              composer + "</p>\n</body></html>\n");
}

bool LyricsSite::Start() {
  if (process_) return port_ != 0;
  std::vector<std::string> args = {std::string(LIRENTA_BIN_DIR) + "/lirenta-fixture-site",
                                   "--root",
                                   root_,
                                   "--port",
                                   "0",
                                   "--idle-seconds",
                                   "300",
                                   "--log",
                                   log_};
  args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
  process_ = std::make_unique<ChildProcess>(ChildProcess::Options{args, {}, {}, "", true});
  auto deadline = std::chrono::steady_clock::now() + kStartDeadline;
  while (std::chrono::steady_clock::now() < deadline && process_->Running()) {
    std::string out = process_->Stdout();
    std::size_t eol = out.find('\n');
    if (eol != std::string::npos) {
      port_ = std::atoi(out.substr(0, eol).c_str());
      return port_ != 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::vector<std::string> LyricsSite::RequestLines() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(log_));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("GET ", 0) == 0) lines.push_back(line);
  }
  return lines;
}

}  // namespace test
