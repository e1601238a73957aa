#include "tests/support/NginxSite.h"

#include <sys/stat.h>

#include <filesystem>

#include "runtime/Text.h"
#include "tests/support/LyricsSite.h"

namespace test {

namespace {

constexpr const char* kNginxProgram = "/usr/sbin/nginx";

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

void NginxSite::AddPage(const std::string& path, const std::string& body) {
  WritePage(dir_.File("pages"), path, body);
}

bool NginxSite::Start() {
  return server_.Start(
      kNginxProgram, "nginx",
      [&](int port) {
        std::string text = rt::ReplaceAll(kConfiguration, "@DIR@", dir_.Path());
        text = rt::ReplaceAll(text, "@PORT@", std::to_string(port));
        WriteFile(dir_.File("nginx.conf"), rt::ReplaceAll(text, "@HTTP@", httpDirectives_));
        // -e: the error log from the start, before the configuration names it (nginx would
        // open the machine's log first).
        return std::vector<std::string>{kNginxProgram,           "-p", dir_.Path() + "/",     "-c",
                                        dir_.File("nginx.conf"), "-e", dir_.File("error.log")};
      },
      [&] { return ReadFile(dir_.File("error.log")); });
}

std::vector<std::string> NginxSite::Answered() const {
  return ReadLines(dir_.File("access.log"));
}

}  // namespace test
