#include "http/IdIOHandlerSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <chrono>

#include "http/IdException.h"
#include "runtime/Text.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits up to this long are a look at the socket (the connection's 1 ms look for a close):
// they poll, as a receive time limit cannot wait that briefly.
constexpr int32_t kLookMs = 1;

}  // namespace

// --- TIdSocketHandle -----------------------------------------------------------------------

TIdSocketHandle::~TIdSocketHandle() {
  CloseSocket();
}

void TIdSocketHandle::AllocateSocket() {
  if (Allocated) CloseSocket();
  Handle = SharedStack()->NewSocketHandle();
  Allocated = true;
  receiveLimit_ = TimeoutInfinite;
}

bool TIdSocketHandle::TryBind(int32_t port) {
  TIdStack& stack = *SharedStack();
  int r = stack.Bind(Handle, IP, port);
  if (r == -1) {
    if (stack.LastError == Id_WSAEADDRINUSE) return false;
    idstack::RaiseSocketError(stack.LastError);
  }
  UpdateBindingLocal();
  return true;
}

void TIdSocketHandle::Bind() {
  if (Port != 0 || ClientPortMin == 0 || ClientPortMax == 0) {
    if (!TryBind(Port)) throw EIdCouldNotBindSocket();
    return;
  }
  if (ClientPortMax < ClientPortMin)
    throw EIdInvalidPortRange("Invalid Port Range (" + rt::IntToStr(ClientPortMin) + " - " +
                              rt::IntToStr(ClientPortMax) + ")");
  for (int32_t port = ClientPortMax; port >= ClientPortMin; --port)
    if (TryBind(port)) return;
  throw EIdCanNotBindPortInRange("Can not bind in port range (" + rt::IntToStr(ClientPortMin) +
                                 " - " + rt::IntToStr(ClientPortMax) + ")");
}

void TIdSocketHandle::Connect(int32_t timeout) {
  TIdStack& stack = *SharedStack();
  if (timeout > 0) {
    stack.ConnectWithin(Handle, PeerIP, PeerPort, timeout);
  } else if (stack.Connect(Handle, PeerIP, PeerPort) == -1) {
    idstack::RaiseSocketError(stack.LastError);
  }
  UpdateBindingLocal();
  UpdateBindingPeer();
}

void TIdSocketHandle::CloseSocket() {
  if (!Allocated) return;
  Allocated = false;
  TIdStack* stack = SharedStack();
  if (stack) {
    stack->Shutdown(Handle, SHUT_WR);
    stack->Close(Handle);
  }
  Handle = Id_INVALID_SOCKET;
}

bool TIdSocketHandle::WaitReadable(int32_t timeout) {
  if (!Allocated) throw EIdConnClosedGracefully();
  return SharedStack()->WaitReadable(Handle, timeout);
}

int TIdSocketHandle::Recv(char* buffer, int length) {
  return SharedStack()->Receive(Handle, buffer, length);
}

void TIdSocketHandle::SetReceiveLimit(int32_t timeout) {
  if (timeout == receiveLimit_) return;
  timeval limit{};  // zero: no limit
  if (timeout != TimeoutInfinite) {
    limit.tv_sec = timeout / 1000;
    limit.tv_usec = (timeout % 1000) * 1000;
  }
  SharedStack()->CheckSocketResult(
      ::setsockopt(Handle, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit));
  receiveLimit_ = timeout;
}

int TIdSocketHandle::RecvWithin(char* buffer, int length, int32_t timeout) {
  if (!Allocated) throw EIdConnClosedGracefully();
  TIdStack& stack = *SharedStack();
  const bool limited = timeout != TimeoutInfinite;
  const auto deadline =
      limited ? Clock::now() + std::chrono::milliseconds(timeout) : Clock::time_point::max();
  int32_t limit = timeout;
  for (;;) {
    SetReceiveLimit(limit);
    const ssize_t r = ::recv(Handle, buffer, static_cast<std::size_t>(length), 0);
    if (r >= 0) return static_cast<int>(r);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return TIdIOHandler::kWaitRanOut;
    if (errno != EINTR) {
      stack.LastError = idstack::WSAErrorFromErrno(errno);
      return -1;
    }
    // Interrupted: the wait goes on for the time that is left.
    if (limited) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return TIdIOHandler::kWaitRanOut;
      limit = static_cast<int32_t>(left);
    }
  }
}

int TIdSocketHandle::Send(const char* buffer, int length) {
  return SharedStack()->Send(Handle, buffer, length);
}

void TIdSocketHandle::SetSockOpt(int level, int option, int32_t value) {
  SharedStack()->SetSocketOption(Handle, level, option, value);
}

void TIdSocketHandle::UpdateBindingLocal() {
  SharedStack()->GetSocketName(Handle, IP, Port);
}

void TIdSocketHandle::UpdateBindingPeer() {
  SharedStack()->GetPeerName(Handle, PeerIP, PeerPort);
}

// --- TIdIOHandlerSocket --------------------------------------------------------------------

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
  Close();
}

void TIdIOHandlerSocket::Open() {
  if (binding_)
    binding_->CloseSocket();
  else
    binding_ = std::make_unique<TIdSocketHandle>();
  binding_->IP.clear();
  binding_->Port = 0;
  binding_->PeerIP.clear();
  binding_->PeerPort = 0;
}

void TIdIOHandlerSocket::Close() {
  if (binding_) binding_->CloseSocket();
}

bool TIdIOHandlerSocket::Connected() const {
  return binding_ && binding_->HandleAllocated();
}

void TIdIOHandlerSocket::ConnectClient(const std::string& host, int32_t port,
                                       const std::string& boundIP, int32_t boundPort,
                                       int32_t lowestPort, int32_t highestPort, int32_t timeout) {
  if (!binding_) Open();
  TIdSocketHandle& binding = *binding_;
  binding.AllocateSocket();
  binding.IP = boundIP;
  binding.Port = boundPort;
  binding.ClientPortMin = lowestPort;
  binding.ClientPortMax = highestPort;
  binding.Bind();

  if (!idstack::IsDottedAddress(host)) DoStatus(TIdStatus::hsResolving, host);
  binding.PeerIP = SharedStack()->ResolveToAddress(host);
  binding.PeerPort = port;
  binding.SetSockOpt(IPPROTO_TCP, TCP_NODELAY, UseNagle ? 0 : 1);
  DoStatus(TIdStatus::hsConnecting, binding.PeerIP);
  binding.Connect(timeout);
}

bool TIdIOHandlerSocket::Readable(int32_t timeout) {
  if (!binding_) throw EIdConnClosedGracefully();
  return binding_->WaitReadable(timeout);
}

int TIdIOHandlerSocket::Recv(char* buffer, int length, int32_t& error) {
  if (!Connected()) throw EIdClosedSocket();
  int r = binding_->Recv(buffer, length);
  if (r < 0) error = SharedStack()->LastError;
  return r;
}

int TIdIOHandlerSocket::RecvWithin(char* buffer, int length, int32_t timeout, int32_t& error) {
  if (timeout != TimeoutInfinite && timeout <= kLookMs)
    return TIdIOHandler::RecvWithin(buffer, length, timeout, error);
  if (!binding_) throw EIdConnClosedGracefully();
  const int r = binding_->RecvWithin(buffer, length, timeout);
  if (r == -1) error = SharedStack()->LastError;
  return r;
}

int TIdIOHandlerSocket::Send(const char* buffer, int length, int32_t& error) {
  if (!Connected()) throw EIdClosedSocket();
  int r = binding_->Send(buffer, length);
  if (r < 0) error = SharedStack()->LastError;
  return r;
}
