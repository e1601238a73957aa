#include "http/IdTCPConnection.h"

#include <time.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "http/IdException.h"
#include "http/IdIOHandlerSocket.h"

namespace {

// A count-limited read sizes its target once, but never by more than this: a length the peer
// announced is not trusted with an allocation of its size.
constexpr std::size_t kMaxPresize = 1 << 20;

// Reading until the peer closes stops after this many bytes.
constexpr int64_t kUntilCloseLimit = std::numeric_limits<int32_t>::max();

// Milliseconds of the coarse monotonic clock: a read of it costs a few nanoseconds, where the
// precise clock costs over a hundred on a virtual machine, and a deadline of seconds needs no
// finer step than its few milliseconds.
int64_t CoarseMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

// --- TIdManagedBuffer ----------------------------------------------------------------------

char* TIdManagedBuffer::Reserve(std::size_t count) {
  if (capacity_ - end_ >= count) return data_.get() + end_;
  const std::size_t unread = Size();
  if (begin_ > 0 && capacity_ - unread >= count && begin_ >= kCompactAfter) {
    std::memmove(data_.get(), data_.get() + begin_, unread);
  } else {
    std::size_t capacity = std::max<std::size_t>(capacity_ * 2, 4096);
    while (capacity - unread < count) capacity *= 2;
    auto data = std::make_unique_for_overwrite<char[]>(capacity);
    if (unread > 0) std::memcpy(data.get(), data_.get() + begin_, unread);
    data_ = std::move(data);
    capacity_ = capacity;
  }
  begin_ = 0;
  end_ = unread;
  return data_.get() + end_;
}

void TIdManagedBuffer::Append(const char* bytes, std::size_t count) {
  if (count == 0) return;
  std::memcpy(Reserve(count), bytes, count);
  end_ += count;
}

void TIdManagedBuffer::Remove(std::size_t count) {
  if (count > Size()) throw EIdNotEnoughDataInBuffer();
  begin_ += count;
  if (begin_ == end_) {
    begin_ = end_ = 0;
  } else if (begin_ >= kCompactAfter) {
    std::memmove(data_.get(), data_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
}

void TIdManagedBuffer::ExtractTo(std::string& dest, std::size_t count) {
  if (count > Size()) throw EIdNotEnoughDataInBuffer();
  dest.append(Data(), count);
  Remove(count);
}

std::size_t TIdManagedBuffer::Find(std::string_view needle, std::size_t from) const {
  std::string_view queued(Data(), Size());
  if (needle.size() == 1) {  // a line end: one library search
    if (from >= queued.size()) return std::string_view::npos;
    const void* hit = std::memchr(queued.data() + from, needle[0], queued.size() - from);
    return hit == nullptr ? std::string_view::npos
                          : std::size_t(static_cast<const char*>(hit) - queued.data());
  }
  return queued.find(needle, from);
}

// --- TIdTCPConnection ----------------------------------------------------------------------

TIdTCPConnection::~TIdTCPConnection() {
  try {
    CloseSocketOnly();
  } catch (...) {
  }
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler) {
  if (ownedIOHandler_ && ownedIOHandler_.get() != handler) ownedIOHandler_.reset();
  ioHandler_ = handler;
}

bool TIdTCPConnection::IsConnected() {
  CheckPeerClosed(false, false);
  return ioHandler_ != nullptr && ioHandler_->Connected();
}

void TIdTCPConnection::DisconnectFromPeer() {
  const bool wasConnected = IsConnected();
  if (wasConnected) {
    DoStatus(TIdStatus::hsDisconnecting);
    CloseSocketOnly();
  }
  if (ownedIOHandler_) {
    ownedIOHandler_.reset();
    ioHandler_ = nullptr;
  }
  if (wasConnected) {
    if (OnDisconnected) OnDisconnected();
    DoStatus(TIdStatus::hsDisconnected);
  }
}

void TIdTCPConnection::CloseSocketOnly() {
  if (ioHandler_) ioHandler_->Close();
}

void TIdTCPConnection::CheckPeerClosed(bool raiseIfClosed, bool ignoreQueue) {
  if (!ioHandler_) return;
  bool closed;
  if (PeerClosed) {
    if (ioHandler_->Connected()) {
      CloseSocketOnly();
      DoStatus(TIdStatus::hsDisconnected);
      if (OnDisconnected) OnDisconnected();
    }
    closed = true;
  } else {
    closed = !ioHandler_->Connected();
  }
  if (closed && (InputQueue.Size() == 0 || ignoreQueue) && raiseIfClosed)
    throw EIdConnClosedGracefully();
}

void TIdTCPConnection::PollPeerClosed(bool raiseIfClosed) {
  FillInput(raiseIfClosed, 1, false);
}

void TIdTCPConnection::SetReadDeadline(int32_t ms) {
  // 0 stands for none, and the clock never reads 0 once the machine is up.
  readDeadline_ = ms > 0 ? std::max<int64_t>(CoarseMs() + ms, 1) : 0;
}

bool TIdTCPConnection::LimitByDeadline(int32_t& timeout) const {
  const int64_t left = readDeadline_ - CoarseMs();
  if (left <= 0) throw EIdAnswerTimeout();
  if (timeout != TimeoutInfinite && timeout <= left) return false;
  timeout = int32_t(std::min<int64_t>(left, std::numeric_limits<int32_t>::max()));
  return true;
}

int TIdTCPConnection::FillInput(bool raiseIfClosed, int32_t timeout, bool raiseOnTimeout) {
  bool byDeadline = false;
  if (timeout == TimeoutDefault) {
    timeout = ReadTimeout != 0 ? ReadTimeout : TimeoutInfinite;
    if (readDeadline_ != 0) byDeadline = LimitByDeadline(timeout);
  }
  CheckPeerClosed(raiseIfClosed, false);
  if (!IsConnected()) {
    if (raiseIfClosed) throw EIdNotConnected();
    return 0;
  }
  const std::size_t blockSize = static_cast<std::size_t>(std::max(RecvBufferSize, 1));
  for (;;) {
    // Wait and receive straight into the free end of the queue.
    char* block = InputQueue.Reserve(blockSize);
    int32_t error = 0;
    int count = ioHandler_->RecvWithin(block, static_cast<int>(blockSize), timeout, error);
    if (count == TIdIOHandler::kWaitRanOut) {
      if (byDeadline) throw EIdAnswerTimeout();
      if (raiseOnTimeout) throw EIdReadTimeout();
      return -1;
    }
    if (count < 0) {
      if (error == Id_WSAESHUTDOWN || error == Id_WSAECONNABORTED) {
        CloseSocketOnly();
        if (InputQueue.Size() == 0) idstack::RaiseSocketError(error);
        count = 0;
      } else {
        idstack::RaiseSocketError(error);
      }
    }
    PeerClosed = count == 0;
    InputQueue.Commit(static_cast<std::size_t>(count));
    CheckPeerClosed(raiseIfClosed, false);
    if (count != 0 || !IsConnected()) return count;
  }
}

std::string TIdTCPConnection::ReadLine(std::string_view terminator, int32_t timeout,
                                       int32_t maxLength) {
  if (maxLength == -1) maxLength = MaxLineLength;
  if (terminator.empty()) terminator = "\n";
  LineWasSplit = false;
  LineTimedOut = false;
  const std::size_t limit = maxLength > 0 ? static_cast<std::size_t>(maxLength) : 0;

  std::size_t scanned = 0;
  for (;;) {
    // Bytes already searched are not searched again; a terminator may straddle the seam.
    const std::size_t from = scanned >= terminator.size() ? scanned - terminator.size() + 1 : 0;
    const std::size_t hit = InputQueue.Find(terminator, from);
    scanned = InputQueue.Size();
    const bool found = hit != std::string_view::npos;
    if (limit != 0 && ((found && hit > limit) || (!found && scanned > limit))) {
      if (MaxLineAction == TIdMaxLineAction::maException) throw EIdReadLnMaxLineLengthExceeded();
      LineWasSplit = true;
      std::string line;
      InputQueue.ExtractTo(line, limit);
      return line;
    }
    if (found) {
      std::size_t length = hit;
      if (terminator == "\n" && hit > 0 && InputQueue.Data()[hit - 1] == '\r') --length;
      std::string line(InputQueue.Data(), length);
      InputQueue.Remove(hit + terminator.size());
      return line;
    }
    CheckPeerClosed(true, true);
    if (FillInput(true, timeout, timeout == TimeoutDefault) == -1) {
      LineTimedOut = true;
      return {};
    }
  }
}

void TIdTCPConnection::ReadExact(std::string& buffer, std::size_t count) {
  if (count == 0) return;
  while (InputQueue.Size() < count) {
    FillInput(true, TimeoutDefault, true);
    CheckPeerClosed(true, true);
  }
  InputQueue.ExtractTo(buffer, count);
}

void TIdTCPConnection::ReadToStream(std::string& stream, int64_t count, bool untilClose) {
  if (count == -1 && !untilClose) {
    std::string size;
    ReadExact(size, 4);
    count = int64_t(uint8_t(size[0])) << 24 | int64_t(uint8_t(size[1])) << 16 |
            int64_t(uint8_t(size[2])) << 8 | int64_t(uint8_t(size[3]));
  }
  if (count >= 0 && !untilClose)
    stream.reserve(stream.size() + std::min<std::size_t>(std::size_t(count), kMaxPresize));

  int64_t remaining = count >= 0 ? count : kUntilCloseLimit;
  if (untilClose && count < 0) remaining = kUntilCloseLimit;

  const std::size_t queued = std::min<std::size_t>(InputQueue.Size(), std::size_t(remaining));
  InputQueue.ExtractTo(stream, queued);
  remaining -= int64_t(queued);

  try {
    while (remaining > 0 && IsConnected()) {
      const std::size_t block = std::min<std::size_t>(
          std::size_t(remaining), static_cast<std::size_t>(std::max(RecvBufferSize, 1)));
      ReadExact(stream, block);
      remaining -= int64_t(block);
    }
  } catch (const EIdConnClosedGracefully&) {
    InputQueue.ExtractTo(stream, InputQueue.Size());
    if (!untilClose) throw;
  } catch (...) {
    InputQueue.ExtractTo(stream, InputQueue.Size());
    throw;
  }
}

void TIdTCPConnection::WriteText(std::string_view text) {
  SendBytes(text.data(), text.size());
}

void TIdTCPConnection::WriteLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text);
  line.append("\r\n");
  SendBytes(line.data(), line.size());
}

void TIdTCPConnection::SendBytes(const char* bytes, std::size_t count, bool now) {
  if (count == 0) return;
  CheckPeerClosed(true, true);
  if (!IsConnected()) throw EIdNotConnected();
  if (writeBatch_ && !now) {
    writeBatch_->append(bytes, count);
    if (batchThreshold_ > 0 && writeBatch_->size() >= std::size_t(batchThreshold_)) {
      SendNow(writeBatch_->data(), std::size_t(batchThreshold_));
      writeBatch_->erase(0, std::size_t(batchThreshold_));
    }
    return;
  }
  SendNow(bytes, count);
}

void TIdTCPConnection::SendNow(const char* bytes, std::size_t count) {
  std::size_t sent = 0;
  while (sent < count) {
    int32_t error = 0;
    const std::size_t rest = std::min<std::size_t>(count - sent, std::numeric_limits<int>::max());
    int n = ioHandler_->Send(bytes + sent, static_cast<int>(rest), error);
    if (n < 0) {
      if (error == Id_WSAESHUTDOWN || error == Id_WSAECONNABORTED || error == Id_WSAECONNRESET)
        CloseSocketOnly();
      idstack::RaiseSocketError(error);
    }
    PeerClosed = n == 0;
    CheckPeerClosed(true, false);
    sent += std::size_t(n);
  }
}

void TIdTCPConnection::StartWriteBatch(int32_t threshold) {
  writeBatch_.emplace();
  batchThreshold_ = threshold;
}

void TIdTCPConnection::FlushWriteBatch() {
  if (!writeBatch_) return;
  std::string batch = std::move(*writeBatch_);
  writeBatch_.reset();
  if (!batch.empty()) SendBytes(batch.data(), batch.size(), true);
}

// --- TIdTCPClient --------------------------------------------------------------------------

void TIdTCPClient::ConnectToPeer(int32_t timeout) {
  if (!ioHandler_) {
    ownedIOHandler_ = std::make_unique<TIdIOHandlerSocket>();
    ownedIOHandler_->OnStatus = OnStatus;
    ioHandler_ = ownedIOHandler_.get();
  } else if (ioHandler_->Connected()) {
    throw EIdAlreadyConnected();
  }
  try {
    ioHandler_->Open();
    InputQueue.Clear();
    PeerClosed = false;
    ioHandler_->ConnectClient(Host, Port, BoundIP, BoundPort, BoundPortMin, BoundPortMax, timeout);
    DoStatus(TIdStatus::hsConnected);
    if (OnConnected) OnConnected();
  } catch (...) {
    CloseSocketOnly();
    throw;
  }
}
