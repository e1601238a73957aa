// The fixture lyrics site's server: HTTP/1.1 on 127.0.0.1, plain or over TLS (OpenSSL) with a
// certificate and key named by the options, one thread, any number of connections at once
// through poll.
//
// Connections stay open between requests (keep-alive) unless the request or the options say
// otherwise; several requests may arrive in one read and one request may arrive over many. The
// server ends on SIGTERM or SIGINT, or when nothing has arrived for the idle time.
//
// Faults, counted over the server's life: requests are numbered from 1 in the order their heads
// arrive (every request that gets an answer counts), answers in the order they go out. A throttle
// answers some requests 429 in place of their pages; a delay holds every answer back for a while
// after its request arrived, while the other connections are served; a trickle sends some
// answers one byte at a time with a pause after each; an outage closes the listening socket and
// every connection once a number of answers went out, and listens again on the same port after
// a while.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/SitePages.h"

struct ssl_ctx_st;

namespace fixture {

// The site goes away once it has sent `after` answers, and comes back `ms` milliseconds later.
struct Outage {
  uint64_t after = 0;
  int ms = 0;
};

// Requests `from` to `from + count - 1` are answered "429 Too Many Requests", with a
// Retry-After of `retryAfter` seconds when it is set.
struct Throttle {
  uint64_t from = 1;
  uint64_t count = 0;
  std::optional<int> retryAfter;
};

// Requests `from` to `from + count - 1` are answered one byte every `ms` milliseconds; the
// connection's later answers wait until the trickle is over.
struct Trickle {
  uint64_t from = 1;
  uint64_t count = 0;
  int ms = 0;
};

struct SiteOptions {
  std::string root;
  uint16_t port = 0;             // 0: any free port
  int idleSeconds = 300;         // ends after this long without a connection or a byte
  bool chunked = false;          // every answer chunked
  int chunkedEvery = 0;          // >0: every n-th answer chunked (counted over the server's life)
  std::size_t chunkSize = 1024;  // bytes of body per chunk
  bool closeEach = false;        // "Connection: close" and close after every answer
  std::vector<std::string> extraHeaders;  // sent with every answer; a Content-Type replaces
                                          // the default "text/html"
  std::string logPath;                    // when set, every request head is appended to this file
  std::string certFile;                   // when set (with keyFile), every connection speaks TLS
  std::string keyFile;
  std::vector<Outage> outages;      // taken in the order of their `after`
  std::vector<Throttle> throttles;  // a request in any of them is throttled
  std::vector<Trickle> trickles;    // a request in any of them trickles
  int delayMs = 0;                  // every answer goes out this long after its request arrived
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
  // Serves until a stop signal or the idle time; returns the exit status (0). Raises
  // std::runtime_error when the port cannot be listened on again after an outage.
  int Run();

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection;

  // Opens the listening socket on options_.port (the first time) or on port_ (after an outage).
  void Listen();
  void Accept();
  // Ends a connection; an established TLS session sends its close alert first.
  static void CloseConnection(Connection& c);
  // False when the connection is finished and must be closed.
  bool ReadFrom(Connection& c);
  bool WriteTo(Connection& c);
  // Takes every complete request in c's input, which arrived at `now`, and queues its answer.
  void Serve(Connection& c, Clock::time_point now);
  // Queues the answer to one request; `close` ends the connection after it.
  void Queue(Connection& c, Answer answer, bool head, bool close, Clock::time_point now);
  // Moves the answers due by `now` to c's output, unless an outage is due first.
  void ReleaseDue(Connection& c, Clock::time_point now);
  // Appends the answer's bytes to `out`, c's output or its trickle.
  void AppendAnswer(Connection& c, std::string& out, const Answer& answer, bool head, bool close);
  // Moves the next byte of c's trickle to its output once it is due.
  void TrickleDue(Connection& c, Clock::time_point now);
  // The first throttle that request number `request` falls in, if any.
  const Throttle* ThrottleOf(uint64_t request) const;
  // The pause between the bytes of request number `request`'s answer; 0: sent whole.
  int TrickleMsOf(uint64_t request) const;
  // The next outage, once as many answers as it waits for went out.
  bool OutageDue() const;
  // Closes the listening socket and every connection.
  void StartOutage(Clock::time_point now);
  void Log(std::string_view head);

  SiteOptions options_;
  SitePages pages_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  uint64_t requests_ = 0;  // request heads taken
  uint64_t answers_ = 0;   // answers that went to a connection's output
  std::size_t nextOutage_ = 0;
  std::optional<Clock::time_point> downUntil_;  // set while the site is away
  std::vector<std::unique_ptr<Connection>> connections_;
  std::FILE* log_ = nullptr;
  ssl_ctx_st* tls_ = nullptr;  // owned; set when the site speaks TLS
};

}  // namespace fixture
