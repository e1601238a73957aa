// One blocking TCP conversation: connect, a queue of received bytes handed out as lines or
// byte counts, writes, and noticing that the peer closed.
//
// Invariants:
// - Bytes are received in exactly one place (FillInput) and always land at the end of
//   InputQueue; every read takes them from its front. Bytes that arrive after the end of one
//   answer stay queued for the next read on the same connection.
// - Only ConnectToPeer empties InputQueue; a close by the peer leaves the queue readable, and
//   "Connection Closed Gracefully." is raised only once it is empty.
// - All traffic goes through the I/O handler; the connection never touches a socket.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/IdIOHandler.h"
#include "http/IdStack.h"

// Received bytes not yet handed out: appended at the end, taken from the front by advancing a
// read offset. The unread bytes move to the front only after kCompactAfter bytes were taken, so
// reading many short lines does not move memory each time.
class TIdManagedBuffer {
 public:
  // Taken bytes tolerated at the front before the unread ones are moved down.
  static constexpr std::size_t kCompactAfter = 32768;

  TIdManagedBuffer() = default;
  TIdManagedBuffer(const TIdManagedBuffer&) = delete;
  TIdManagedBuffer& operator=(const TIdManagedBuffer&) = delete;

  std::size_t Size() const { return end_ - begin_; }
  const char* Data() const { return data_.get() + begin_; }

  void Append(const char* bytes, std::size_t count);
  // Room for `count` more bytes at the end: fill it, then Commit how many were written.
  char* Reserve(std::size_t count);
  void Commit(std::size_t count) { end_ += count; }
  // Drops `count` bytes from the front; EIdNotEnoughDataInBuffer when fewer are queued.
  void Remove(std::size_t count);
  // Appends the first `count` bytes to `dest` and removes them.
  void ExtractTo(std::string& dest, std::size_t count);
  void Clear() { begin_ = end_ = 0; }
  // Offset of the first `needle` at or after `from`, counted from the front; npos when none.
  std::size_t Find(std::string_view needle, std::size_t from) const;

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

enum class TIdMaxLineAction { maException, maSplit };

class TIdTCPConnection : public TIdComponent {
 public:
  TIdTCPConnection() = default;
  ~TIdTCPConnection() override;

  // Default limits of a new connection.
  static constexpr int32_t kDefaultBufferSize = 32768;     // one receive call; a send chunk
  static constexpr int32_t kDefaultMaxLineLength = 16384;  // a status or header line

  // The handler in use: one the connection created itself on connect, or one given here
  // (owned by the caller, which keeps it alive while the connection uses it).
  TIdIOHandler* IOHandler() const { return ioHandler_; }
  void SetIOHandler(TIdIOHandler* handler);

  bool IsConnected();
  // Orderly close with notifications; frees a handler the connection created itself.
  void DisconnectFromPeer();
  // Closes the socket through the handler, without notifications.
  void CloseSocketOnly();
  // Closes the socket once the peer was seen closing; raises "Connection Closed Gracefully."
  // with `raiseIfClosed` when closed and nothing (or, with `ignoreQueue`, anything) is queued.
  void CheckPeerClosed(bool raiseIfClosed, bool ignoreQueue);
  // A 1 ms look at the socket that queues waiting bytes and notices a close.
  void PollPeerClosed(bool raiseIfClosed);
  // Receives once (repeating while the peer delivered nothing and the connection holds).
  // Returns the byte count, or -1 when the wait ran out and `raiseOnTimeout` is false.
  int FillInput(bool raiseIfClosed, int32_t timeout, bool raiseOnTimeout);

  // From now on, every wait that takes the connection's own limit (TimeoutDefault) also ends
  // `ms` milliseconds from now, and one still waiting then raises EIdAnswerTimeout; 0 or less
  // lifts the deadline. Read on the coarse monotonic clock: a few milliseconds late at most.
  void SetReadDeadline(int32_t ms);

  // One line without its terminator; with the terminator LF a CR before it is dropped too.
  // `maxLength` -1 means MaxLineLength, 0 no limit.
  std::string ReadLine(std::string_view terminator = "\n", int32_t timeout = TimeoutDefault,
                       int32_t maxLength = -1);
  // Waits until `count` bytes are queued and appends them to `buffer`.
  void ReadExact(std::string& buffer, std::size_t count);
  // Appends `count` bytes to `stream`; with `untilClose`, everything until the peer closes
  // (at most `count` bytes when `count` is not negative). Bytes received before a failure are
  // appended before the failure passes on.
  void ReadToStream(std::string& stream, int64_t count, bool untilClose);

  void WriteText(std::string_view text);
  void WriteLine(std::string_view text);
  void SendBytes(const char* bytes, std::size_t count, bool now = false);
  // Collects written bytes until FlushWriteBatch; a `threshold` above 0 sends each full
  // threshold at once.
  void StartWriteBatch(int32_t threshold);
  void FlushWriteBatch();

  int32_t ReadTimeout = 0;  // ms; 0 waits without limit
  int32_t RecvBufferSize = kDefaultBufferSize;
  int32_t SendBufferSize = kDefaultBufferSize;
  int32_t MaxLineLength = kDefaultMaxLineLength;
  TIdMaxLineAction MaxLineAction = TIdMaxLineAction::maException;
  std::function<void()> OnConnected;
  std::function<void()> OnDisconnected;

  TIdManagedBuffer InputQueue;
  bool PeerClosed = false;
  bool LineWasSplit = false;
  bool LineTimedOut = false;

 protected:
  // Sends everything now, in as many calls as it takes.
  void SendNow(const char* bytes, std::size_t count);

  // Shortens `timeout` (ms, or TimeoutInfinite) to what is left before the read deadline;
  // true when it did. Raises EIdAnswerTimeout when the deadline has passed.
  bool LimitByDeadline(int32_t& timeout) const;

  TIdIOHandler* ioHandler_ = nullptr;
  std::unique_ptr<TIdIOHandler> ownedIOHandler_;
  // The read deadline in coarse-clock milliseconds; 0: none.
  int64_t readDeadline_ = 0;
  std::optional<std::string> writeBatch_;
  int32_t batchThreshold_ = 0;
};

class TIdTCPClient : public TIdTCPConnection {
 public:
  // Opens the connection to Host:Port. EIdAlreadyConnected when the socket is open; after any
  // other failure the socket is closed and the connection may be opened again.
  void ConnectToPeer(int32_t timeout);

  std::string Host;
  int32_t Port = 0;
  std::string BoundIP;
  int32_t BoundPort = 0;
  int32_t BoundPortMin = 0;
  int32_t BoundPortMax = 0;
};
