// The fixture lyrics site's server: HTTP/1.1 over plain sockets on 127.0.0.1, one thread, any
// number of connections at once through poll.
//
// Connections stay open between requests (keep-alive) unless the request or the options say
// otherwise; several requests may arrive in one read and one request may arrive over many. The
// server ends on SIGTERM or SIGINT, or when nothing has arrived for the idle time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tools/SitePages.h"

namespace fixture {

struct SiteOptions {
  std::string root;
  uint16_t port = 0;             // 0: any free port
  int idleSeconds = 300;         // ends after this long without a connection or a byte
  bool chunked = false;          // every answer chunked
  int chunkedEvery = 0;          // >0: every n-th answer chunked (counted over the server's life)
  std::size_t chunkSize = 1024;  // bytes of body per chunk
  bool closeEach = false;        // "Connection: close" and close after every answer
  std::vector<std::string> extraHeaders;  // sent with every answer
  std::string logPath;                    // when set, every request head is appended to this file
};

class FixtureSite {
 public:
  // Opens the listening socket; raises std::runtime_error when it cannot.
  explicit FixtureSite(SiteOptions options);
  ~FixtureSite();
  FixtureSite(const FixtureSite&) = delete;
  FixtureSite& operator=(const FixtureSite&) = delete;

  uint16_t Port() const { return port_; }
  // Serves until a stop signal or the idle time; returns the exit status (0).
  int Run();

 private:
  struct Connection;

  void Accept();
  // False when the connection is finished and must be closed.
  bool ReadFrom(Connection& c);
  bool WriteTo(Connection& c);
  // Answers every complete request in c's input.
  void Serve(Connection& c);
  void AppendAnswer(Connection& c, const Answer& answer, bool head, bool close);
  void Log(std::string_view head);

  SiteOptions options_;
  SitePages pages_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  uint64_t answers_ = 0;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::FILE* log_ = nullptr;
};

}  // namespace fixture
