// A server program of the machine's (nginx, tinyproxy) run privately for a test: started on a
// free port of 127.0.0.1 with the configuration its owner writes for that port, taken as
// started once the port answers, and stopped by its process id (SIGTERM, then SIGKILL) when the
// object goes. The machine's own instance, its configuration and its service are never used.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Process.h"

namespace test {

class PrivateServer {
 public:
  // Writes the configuration for `port` and returns the command that starts the program with
  // it, in the foreground.
  using Launch = std::function<std::vector<std::string>(int port)>;
  // What the program said of its own failure to start (its error log).
  using Complaint = std::function<std::string()>;

  PrivateServer() = default;
  ~PrivateServer();
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;

  // Starts `program` (once) through `launch`; false, with Reason() saying why, when it is not
  // installed (`package` installs it), or does not answer on its port in time.
  bool Start(const std::string& program, const std::string& package, const Launch& launch,
             const Complaint& complaint);
  const std::string& Reason() const { return reason_; }
  int Port() const { return port_; }

 private:
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
  std::string reason_;
};

}  // namespace test
