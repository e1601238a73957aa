// A scripted peer on 127.0.0.1 for tests of network clients.
//
// The server listens on an ephemeral port. The n-th accepted connection (counting from 0) runs
// the n-th script, a list of steps: expect bytes, send bytes (whole or in paced pieces),
// half-close, reset, close, stall, or wait for the client to close; or start TLS, after which
// the steps speak through the session. Connections beyond the scripts are closed at once. Every
// byte received is recorded per connection (after TLS started: the decrypted bytes).
//
// Everything is bounded: each step has a deadline, the server stops by itself after its
// lifetime, and the destructor stops it at once. A step that misses its deadline is recorded
// as a failure and ends its connection.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestCertificates.h"

namespace test {

// The bytes of the HTTP tests' conversations: an answer with a Content-Length body, and the
// head the client sends for a GET of `target` from `hostPort` ("127.0.0.1:8080").
std::string Answer(const std::string& status, const std::string& body,
                   const std::string& extraHeaders = "");
std::string GetHead(const std::string& hostPort, const std::string& target,
                    const std::string& extraLines = "");

class ScriptedServer {
 public:
  using Ms = std::chrono::milliseconds;

  enum class Action {
    Expect,
    ExpectUntil,
    Send,
    SendPieces,
    HalfClose,
    Reset,
    Close,
    Stall,
    AwaitClose,
    StartTls,
    RefusedTls
  };
  struct Step {
    Action action;
    std::string bytes;      // to send, or the marker to expect
    std::size_t count = 0;  // bytes to expect, or the size of one piece
    Ms pause{0};            // between pieces, or how long to stall
    std::string key;        // the key file of a TLS step (bytes: its certificate file)
  };
  using Script = std::vector<Step>;

  static Step Expect(std::size_t count);
  // Through the next LF.
  static Step ExpectLine();
  // Through the next occurrence of `marker`.
  static Step ExpectUntil(std::string marker);
  // Through the empty line that ends a request head.
  static Step ExpectHead();
  static Step Send(std::string bytes);
  static Step SendPieces(std::string bytes, std::size_t pieceSize, Ms pause);
  // Shuts down sending; the connection stays open for reading.
  static Step HalfClose();
  // Closes with SO_LINGER 0, so the client sees a reset.
  static Step Reset();
  static Step Close();
  // Keeps the connection open, sending nothing, for `duration` (ends early when the client
  // closes).
  static Step Stall(Ms duration);
  // Waits until the client closes (bounded by the step deadline).
  static Step AwaitClose();
  // The server side of a TLS handshake with this certificate; later steps go through the
  // session, and Close sends the close alert first.
  static Step StartTls(const TlsFiles& files);
  // A handshake with this certificate that the client must refuse; the connection ends there.
  static Step RefusedTls(const TlsFiles& files);
  // True when the client sent the TLS close alert before it closed (an AwaitClose step saw it).
  bool SawCloseAlert(std::size_t connection) const;

  explicit ScriptedServer(std::vector<Script> scripts, Ms stepDeadline = Ms(5000),
                          Ms lifetime = Ms(30000));
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int32_t Port() const { return port_; }
  int Accepted() const;
  std::string Received(std::size_t connection) const;
  // Waits until every scripted connection ran to its end; false when `deadline` passed first.
  bool WaitDone(Ms deadline = Ms(5000));
  // Waits until `count` connections were accepted; false when `deadline` passed first.
  bool WaitAccepted(int count, Ms deadline = Ms(5000));
  // Waits until `count` connections ran to their end; false when `deadline` passed first.
  bool WaitFinished(std::size_t count, Ms deadline = Ms(5000));
  // Steps that missed their deadline or failed, as "connection n: text".
  std::vector<std::string> Failures() const;
  // Ends every stall under way, and makes every later one end at once.
  void ReleaseStalls();
  // Stops accepting and ends every connection; waits for the threads.
  void Stop();

 private:
  void AcceptLoop();
  void RunConnection(std::size_t index, int socket);
  void Record(std::size_t index, const char* bytes, std::size_t count);
  void Fail(std::size_t index, const std::string& text);

  std::vector<Script> scripts_;
  Ms stepDeadline_;
  std::chrono::steady_clock::time_point end_;
  int listen_ = -1;
  int32_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> released_{false};
  std::thread acceptThread_;
  std::vector<std::thread> connectionThreads_;  // touched only by the accept thread and Stop

  mutable std::mutex lock_;
  std::condition_variable changed_;
  int accepted_ = 0;
  std::size_t finished_ = 0;
  std::vector<std::string> received_;
  std::vector<std::string> failures_;
  std::vector<bool> closeAlerts_;
};

// A port on 127.0.0.1 for what a scripted server cannot play: one that refuses connections
// (bound, not listening), one that listens and never accepts, and one whose accept queue is
// full, so that a further connect hangs until the client gives up.
class LoopbackPort {
 public:
  enum class Kind { Refusing, Listening, Full };
  explicit LoopbackPort(Kind kind);
  ~LoopbackPort();
  LoopbackPort(const LoopbackPort&) = delete;
  LoopbackPort& operator=(const LoopbackPort&) = delete;

  int32_t Port() const { return port_; }

 private:
  void Release();

  int socket_ = -1;
  int32_t port_ = 0;
  std::vector<int> fillers_;  // the connections that fill a full queue
};

// A port of 127.0.0.1 that was free a moment ago; 0 when none could be had.
int FreeLoopbackPort();
// Whether something accepts a connection on the port of 127.0.0.1.
bool PortAnswers(int port);

// Waits until a client's socket reports `events`: POLLIN for the peer's bytes, close or reset
// having arrived; 0 for a reset or error alone. False when `deadline` passed first.
bool WaitForSocket(int socket, short events,
                   std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));

}  // namespace test
