// What a TCP connection needs of the thing that moves its bytes.
//
// The connection reads and writes only through this interface: in production a socket handler
// (TIdIOHandlerSocket), in tests, benchmarks and fuzzers a memory handler (TIdIOHandlerMemory)
// that plays a scripted peer.
#pragma once

#include <cstdint>
#include <string>

#include "http/IdStack.h"

class TIdSSLIOHandlerSocket;

class TIdIOHandler : public TIdComponent {
 public:
  // The TLS handler this is, or nullptr: the client asks it for every request, which a dynamic
  // cast would make cost as much as the rest of choosing the route.
  virtual TIdSSLIOHandlerSocket* Secure() { return nullptr; }
  // Prepares a fresh conversation (a new or reset socket binding).
  virtual void Open() = 0;
  // Ends the conversation: shutdown of sending, then close. Never raises.
  virtual void Close() = 0;
  // True while the handler has an open socket.
  virtual bool Connected() const = 0;
  // Connects to `host`:`port` from `boundIP`:`boundPort` (local ports tried from `highestPort`
  // down to `lowestPort` when both are set). `timeout` ms limits the connect unless it is 0 or
  // negative.
  virtual void ConnectClient(const std::string& host, int32_t port, const std::string& boundIP,
                             int32_t boundPort, int32_t lowestPort, int32_t highestPort,
                             int32_t timeout) = 0;
  // True when a receive would not block within `timeout` ms (TimeoutInfinite: no limit).
  virtual bool Readable(int32_t timeout) = 0;
  // Bytes received (0: the peer closed) or -1 with `error` set to the failure's Windows Sockets
  // number. EIdClosedSocket without an open socket.
  virtual int Recv(char* buffer, int length, int32_t& error) = 0;
  // Bytes sent or -1 with `error` set, as for Recv.
  virtual int Send(const char* buffer, int length, int32_t& error) = 0;

  // What RecvWithin returns when nothing came within its time limit.
  static constexpr int kWaitRanOut = -2;
  // Readable(timeout), then Recv: the bytes received (0: the peer closed), -1 with `error` set,
  // or kWaitRanOut when the socket did not become readable within `timeout` ms. A handler may
  // do both in one step, as long as it waits, fails and reports exactly as the two do.
  virtual int RecvWithin(char* buffer, int length, int32_t timeout, int32_t& error) {
    if (!Readable(timeout)) return kWaitRanOut;
    return Recv(buffer, length, error);
  }
};
