// The fixture lyrics site's server: HTTP/1.1 on 127.0.0.1, plain or over TLS (OpenSSL) with a
// certificate and key named by the options, one thread, any number of connections at once
// through poll.
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

struct ssl_ctx_st;

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
  std::string certFile;                   // when set (with keyFile), every connection speaks TLS
  std::string keyFile;
};

class FixtureSite {
 public:
  // Opens the listening socket (and loads the certificate); raises std::runtime_error when it
  // cannot.
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
  // Ends a connection; an established TLS session sends its close alert first.
  static void CloseConnection(Connection& c);
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
  ssl_ctx_st* tls_ = nullptr;  // owned; set when the site speaks TLS
};

}  // namespace fixture
