// A real nginx in front of the lyrics pages, for the tests that need a real web server: a
// private instance (tests/support/PrivateServer.h) serving the pages of a fresh folder as static
// files. Its configuration, prefix, pid file, logs and temporary folders lie in a folder of its
// own; the machine's nginx, its configuration and its service are never used. The folder is
// removed when the object goes.
#pragma once

#include <string>
#include <vector>

#include "tests/support/PrivateServer.h"
#include "tests/support/Process.h"

namespace test {

class NginxSite {
 public:
  // `httpDirectives` go into the configuration's http block as they are (a limit_req, say).
  explicit NginxSite(std::string httpDirectives = {});

  // Writes a page below the site's folder; `path` is relative ("perf/title.html").
  void AddPage(const std::string& path, const std::string& body);

  // Starts nginx (once); false, with Reason() saying why, when it is not installed, refuses its
  // configuration or does not answer in time.
  bool Start();
  const std::string& Reason() const { return server_.Reason(); }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(server_.Port()) + "/"; }
  // One line per request answered so far, its status first: "429 GET /ana/t1.html HTTP/1.1".
  std::vector<std::string> Answered() const;

 private:
  TempDir dir_;
  std::string httpDirectives_;
  PrivateServer server_;
};

}  // namespace test
