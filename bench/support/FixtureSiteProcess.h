// The fixture lyrics site run as a child process of a benchmark: started on a free port of
// 127.0.0.1 over a folder of pages, stopped with SIGTERM when the object goes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/ChildProgram.h"

namespace bench {

class FixtureSiteProcess {
 public:
  // Starts `program` (lirenta-fixture-site) over `root`; raises std::runtime_error when it does
  // not print its port in time.
  // `extraArgs` go to the site program as they are (--cert FILE --key FILE for TLS).
  FixtureSiteProcess(const std::string& program, const std::string& root,
                     const std::vector<std::string>& extraArgs = {});
  ~FixtureSiteProcess();
  FixtureSiteProcess(const FixtureSiteProcess&) = delete;
  FixtureSiteProcess& operator=(const FixtureSiteProcess&) = delete;

  uint16_t Port() const { return port_; }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  std::string portFile_;
  std::unique_ptr<ChildProgram> process_;
  uint16_t port_ = 0;
};

}  // namespace bench
