#include "http/IdIOHandlerMemory.h"

#include <algorithm>
#include <cstring>

#include "http/IdException.h"

void TIdIOHandlerMemory::Feed(std::string_view bytes) {
  if (!bytes.empty()) pieces_.push_back(Piece{PieceKind::Bytes, std::string(bytes)});
}

void TIdIOHandlerMemory::FeedBytewise(std::string_view bytes) {
  for (char c : bytes) pieces_.push_back(Piece{PieceKind::Bytes, std::string(1, c)});
}

void TIdIOHandlerMemory::FeedClose() {
  pieces_.push_back(Piece{PieceKind::Close, {}});
}

void TIdIOHandlerMemory::FeedError(int32_t code) {
  Piece piece{PieceKind::Error, {}};
  piece.error = code;
  pieces_.push_back(std::move(piece));
}

std::size_t TIdIOHandlerMemory::Pending() const {
  std::size_t total = 0;
  for (const Piece& p : pieces_)
    if (p.kind == PieceKind::Bytes) total += p.bytes.size() - p.offset;
  return total;
}

void TIdIOHandlerMemory::Open() {
  connected_ = false;
}

void TIdIOHandlerMemory::Close() {
  connected_ = false;
}

void TIdIOHandlerMemory::ConnectClient(const std::string& host, int32_t port,
                                       const std::string& /*boundIP*/, int32_t /*boundPort*/,
                                       int32_t /*lowestPort*/, int32_t /*highestPort*/,
                                       int32_t /*timeout*/) {
  // A close queued for the previous conversation does not end this one.
  while (!pieces_.empty() && pieces_.front().kind == PieceKind::Close) pieces_.pop_front();
  LastHost = host;
  LastPort = port;
  ++ConnectCount;
  connected_ = true;
}

bool TIdIOHandlerMemory::Readable(int32_t /*timeout*/) {
  if (!connected_) throw EIdConnClosedGracefully();
  return !pieces_.empty();
}

int TIdIOHandlerMemory::Recv(char* buffer, int length, int32_t& error) {
  if (!connected_) throw EIdClosedSocket();
  ++RecvCalls;
  if (pieces_.empty()) {
    error = Id_WSAEWOULDBLOCK;
    return -1;
  }
  Piece& piece = pieces_.front();
  switch (piece.kind) {
    case PieceKind::Close:
      // The close stays queued: every later receive sees it again, as on a socket.
      return 0;
    case PieceKind::Error:
      error = piece.error;
      pieces_.pop_front();
      return -1;
    case PieceKind::Bytes:
      break;
  }
  std::size_t n =
      std::min<std::size_t>(static_cast<std::size_t>(length), piece.bytes.size() - piece.offset);
  std::memcpy(buffer, piece.bytes.data() + piece.offset, n);
  piece.offset += n;
  if (piece.offset == piece.bytes.size()) pieces_.pop_front();
  return static_cast<int>(n);
}

int TIdIOHandlerMemory::Send(const char* buffer, int length, int32_t& error) {
  if (!connected_) throw EIdClosedSocket();
  ++SendCalls;
  if (SendError != 0) {
    error = SendError;
    return -1;
  }
  Written.append(buffer, static_cast<std::size_t>(length));
  return length;
}
