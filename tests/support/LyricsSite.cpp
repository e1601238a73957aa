#include "tests/support/LyricsSite.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

namespace test {

namespace {
// How long the site may take to print its port.
constexpr auto kStartDeadline = std::chrono::seconds(10);
// How often the request log is looked at while a test waits for a request.
constexpr auto kLogPollInterval = std::chrono::milliseconds(10);
}  // namespace

std::string ComposerPage(const std::string& composer) {
  return "<html><body><h1>Letra</h1>\n<p>Versos da can\xE7\xE3o.</p>\n"
         "<p class=\"ficha\">Compositor: " +
         composer + "</p>\n</body></html>\n";
}

std::string PageAnswer(const std::string& body, const std::string& extraHeaders) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
         extraHeaders + "\r\n" + body;
}

std::vector<std::string> RequestLines(const std::string& heads) {
  std::vector<std::string> lines;
  std::istringstream in(heads);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("GET ", 0) == 0) lines.push_back(line);
  }
  return lines;
}

void WritePage(const std::string& root, const std::string& path, const std::string& body) {
  std::filesystem::path full = std::filesystem::path(root) / path;
  std::filesystem::create_directories(full.parent_path());
  WriteFile(full.string(), body);
}

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
  WritePage(root_, path, body);
}

void LyricsSite::AddComposerPage(const std::string& path, const std::string& composer) {
  AddPage(path, ComposerPage(composer));
}

bool LyricsSite::AwaitRequest(const std::string& target, std::chrono::milliseconds timeout) const {
  const std::string line = "GET " + target + " HTTP/1.1";
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const std::vector<std::string> lines = RequestLines();
    if (std::find(lines.begin(), lines.end(), line) != lines.end()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kLogPollInterval);
  }
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
  process_ = std::make_unique<ChildProcess>(args);
  port_ = std::atoi(process_->FirstLine(kStartDeadline).value_or("0").c_str());
  return port_ != 0;
}

}  // namespace test
