// A real proxy for the tests of the programs' proxy routes: a private tinyproxy
// (tests/support/PrivateServer.h) with its configuration and log in a folder of its own, run in
// the foreground. The machine's proxy, its settings and its service are never used.
#pragma once

#include <string>

#include "tests/support/PrivateServer.h"
#include "tests/support/Process.h"

namespace test {

class TinyProxy {
 public:
  // With `user` set, the proxy wants Basic credentials (`user`, `password`) and answers 407
  // without them or with others.
  explicit TinyProxy(std::string user = {}, std::string password = {});

  // Starts tinyproxy (once); false, with Reason() saying why, when it is not installed, refuses
  // its configuration or does not listen in time.
  bool Start();
  const std::string& Reason() const { return server_.Reason(); }
  int Port() const { return server_.Port(); }
  // The proxy's address with `credentials` ("user:password") when given.
  std::string Url(const std::string& credentials = {}) const;
  // tinyproxy's log: one line per request it took, among others.
  std::string Log() const { return ReadFile(dir_.File("tinyproxy.log")); }

 private:
  TempDir dir_;
  std::string user_, password_;
  PrivateServer server_;
};

}  // namespace test
