// The fixture lyrics site as the end-to-end tests use it: pages written into a fresh folder,
// the site program started on a free port of 127.0.0.1, every request head logged, and the
// site stopped when the object goes. Also the pages and answers that scripted sites send.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Process.h"

namespace test {

// A lyrics page whose text holds the composer the way real pages do.
std::string ComposerPage(const std::string& composer);
// A 200 answer with a Content-Length, `extraHeaders` (whole lines) and `body`.
std::string PageAnswer(const std::string& body, const std::string& extraHeaders = {});
// The request lines ("GET /x.html HTTP/1.1") in request heads as a server received them.
std::vector<std::string> RequestLines(const std::string& heads);
// Writes a page below a site's folder `root`; `path` is relative ("perf/title.html").
void WritePage(const std::string& root, const std::string& path, const std::string& body);

class LyricsSite {
 public:
  // `extraArgs` are passed to the site program (e.g. "--chunked").
  explicit LyricsSite(std::vector<std::string> extraArgs = {});
  ~LyricsSite();

  // Writes a page below the site's folder; `path` is relative ("perf/title.html").
  void AddPage(const std::string& path, const std::string& body);
  // AddPage with a ComposerPage.
  void AddComposerPage(const std::string& path, const std::string& composer);

  // Starts the program (once); false when it did not print its port in time.
  bool Start();
  int Port() const { return port_; }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  // The base address of a site started with --cert and --key.
  std::string SecureUrl() const { return "https://127.0.0.1:" + std::to_string(port_) + "/"; }
  // Waits until the site received a GET of `target` ("/ana/t7.html"); false when `timeout`
  // passed first.
  bool AwaitRequest(const std::string& target, std::chrono::milliseconds timeout) const;
  // The request lines received so far ("GET /x.html HTTP/1.1"), in order.
  std::vector<std::string> RequestLines() const { return test::RequestLines(RequestLog()); }
  // Every request head received so far, byte for byte.
  std::string RequestLog() const { return ReadFile(log_); }

 private:
  TempDir dir_;
  std::string root_;
  std::string log_;
  std::vector<std::string> extraArgs_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

}  // namespace test
