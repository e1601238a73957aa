// An I/O handler that plays the peer from memory, for tests, benchmarks and fuzzers.
//
// The peer's bytes are queued as pieces; one receive call hands out at most one piece (or the
// part of it that fits), so a test decides exactly how the input is split. After the pieces,
// the peer may close, fail with an error number, or stay silent; a silent peer makes every
// wait end at once as a time-out, so nothing here ever blocks.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "http/IdIOHandler.h"

class TIdIOHandlerMemory : public TIdIOHandler {
 public:
  // Queues bytes the peer sends, delivered by one receive call (split when the call asks for
  // fewer).
  void Feed(std::string_view bytes);
  // Queues bytes delivered one per receive call.
  void FeedBytewise(std::string_view bytes);
  // The peer closes after what is queued so far; a later connect starts past the close.
  void FeedClose();
  // A receive fails with this Windows Sockets number after what is queued so far.
  void FeedError(int32_t code);
  // Bytes queued and not yet received.
  std::size_t Pending() const;

  void Open() override;
  void Close() override;
  bool Connected() const override { return connected_; }
  void ConnectClient(const std::string& host, int32_t port, const std::string& boundIP,
                     int32_t boundPort, int32_t lowestPort, int32_t highestPort,
                     int32_t timeout) override;
  bool Readable(int32_t timeout) override;
  int Recv(char* buffer, int length, int32_t& error) override;
  int Send(const char* buffer, int length, int32_t& error) override;

  // Everything the connection sent.
  std::string Written;
  // Counts of connects, receive calls and send calls.
  int ConnectCount = 0;
  int RecvCalls = 0;
  int SendCalls = 0;
  // When not 0, a send fails with this number.
  int32_t SendError = 0;
  // The host and port of the last connect.
  std::string LastHost;
  int32_t LastPort = 0;

 private:
  enum class PieceKind { Bytes, Close, Error };
  struct Piece {
    PieceKind kind;
    std::string bytes;
    std::size_t offset = 0;
    int32_t error = 0;
  };

  std::deque<Piece> pieces_;
  bool connected_ = false;
};
