#include "http/IdStack.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>

#include "http/IdException.h"
#include "runtime/Text.h"

namespace {

struct ErrorMapping {
  int platform;    // errno
  int32_t number;  // Windows Sockets number
};

// Platform error codes and the Windows Sockets numbers whose texts the user sees.
constexpr ErrorMapping kErrnoToWSA[] = {
    {EINTR, 10004},           {EBADF, 10009},           {EACCES, 10013},
    {EFAULT, 10014},          {EINVAL, 10022},          {EMFILE, 10024},
    {EWOULDBLOCK, 10035},     {EAGAIN, 10035},          {EINPROGRESS, 10036},
    {EALREADY, 10037},        {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},        {ENETUNREACH, 10051},
    {ENETRESET, 10052},       {ECONNABORTED, 10053},    {ECONNRESET, 10054},
    {ENOBUFS, 10055},         {EISCONN, 10056},         {ENOTCONN, 10057},
    {EPIPE, 10058},           {ESHUTDOWN, 10058},       {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},       {ECONNREFUSED, 10061},    {ELOOP, 10062},
    {ENAMETOOLONG, 10063},    {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
};

struct ErrorText {
  int32_t number;
  std::string_view text;
};

constexpr ErrorText kWSATexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

// Highest TCP port number; a larger one must not wrap around to another port.
constexpr int32_t kMaxPort = 65535;

sockaddr_in MakeAddress(const std::string& ip, int32_t port) {
  if (port < 0 || port > kMaxPort) idstack::RaiseSocketError(Id_WSAEINVAL);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = ip.empty() ? htonl(INADDR_ANY) : htonl(idstack::TextToAddress(ip));
  return address;
}

// Milliseconds left until `deadline`, never below 0.
int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for `events` on one socket; the poll result (0 when the time ran out). Interrupted
// waits resume with the time that is left.
int PollOne(int socket, short events, int32_t timeout) {
  pollfd entry{socket, events, 0};
  if (timeout < 0) {
    for (;;) {
      int r = ::poll(&entry, 1, -1);
      if (r >= 0 || errno != EINTR) return r;
    }
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
  for (;;) {
    int r = ::poll(&entry, 1, RemainingMs(deadline));
    if (r >= 0 || errno != EINTR) return r;
  }
}

// The process's stack and the count of live components that keep it. The lock guards the
// count and the stack's making and freeing; every socket call reads the pointer, which is
// published atomically so that reading it takes no lock.
std::mutex gStackLock;
int gComponentCount = 0;
std::unique_ptr<TIdStack> gStack;
std::atomic<TIdStack*> gStackPointer{nullptr};

}  // namespace

namespace idstack {

int32_t WSAErrorFromErrno(int code) {
  for (const ErrorMapping& m : kErrnoToWSA)
    if (m.platform == code) return m.number;
  return code;
}

std::string_view WSAErrorText(int32_t code) {
  for (const ErrorText& t : kWSATexts)
    if (t.number == code) return t.text;
  return {};
}

std::string SocketErrorMessage(int32_t code) {
  return "Socket Error # " + rt::IntToStr(code) + "\r\n" + std::string(WSAErrorText(code));
}

void RaiseSocketError(int32_t code) {
  throw EIdSocketError(code, SocketErrorMessage(code));
}

namespace {

bool ReadPart(std::string_view text, int64_t limit, int64_t& value) {
  return rt::TryStrToInt64(text, value) && value >= 0 && value <= limit;
}

bool ParseDotted(std::string_view text, uint32_t& address) {
  // Cut at the first three "."; a fourth "." stays inside the last part and spoils it.
  std::string_view parts[4];
  std::size_t count = 0;
  std::string_view rest = text;
  while (count < 3) {
    std::size_t dot = rest.find('.');
    if (dot == std::string_view::npos) break;
    parts[count++] = rest.substr(0, dot);
    rest.remove_prefix(dot + 1);
  }
  parts[count++] = rest;

  int64_t v[4] = {0, 0, 0, 0};
  switch (count) {
    case 4:
      for (int i = 0; i < 4; ++i)
        if (!ReadPart(parts[i], 255, v[i])) return false;
      address = uint32_t(v[0] << 24 | v[1] << 16 | v[2] << 8 | v[3]);
      return true;
    case 3:
      if (!ReadPart(parts[0], 255, v[0]) || !ReadPart(parts[1], 255, v[1]) ||
          !ReadPart(parts[2], 0xFFFF, v[2]))
        return false;
      address = uint32_t(v[0] << 24 | v[1] << 16 | v[2]);
      return true;
    case 2:
      if (!ReadPart(parts[0], 255, v[0]) || !ReadPart(parts[1], 0xFFFFFF, v[1])) return false;
      address = uint32_t(v[0] << 24 | v[1]);
      return true;
    default:
      if (!ReadPart(parts[0], 0xFFFFFFFFLL, v[0])) return false;
      address = uint32_t(v[0]);
      return true;
  }
}

}  // namespace

bool IsDottedAddress(std::string_view text) {
  uint32_t ignored;
  return ParseDotted(text, ignored);
}

uint32_t TextToAddress(std::string_view text) {
  uint32_t address;
  if (!ParseDotted(text, address))
    throw EIdInvalidIPAddress(std::string(text) + " is not a valid IP address.");
  return address;
}

std::string AddressToText(uint32_t address) {
  return rt::IntToStr(address >> 24) + "." + rt::IntToStr((address >> 16) & 0xFF) + "." +
         rt::IntToStr((address >> 8) & 0xFF) + "." + rt::IntToStr(address & 0xFF);
}

}  // namespace idstack

TIdStackSocketHandle TIdStack::NewSocketHandle() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    LastError = idstack::WSAErrorFromErrno(errno);
    throw EIdInvalidSocket();
  }
  return s;
}

int TIdStack::Bind(TIdStackSocketHandle socket, const std::string& ip, int32_t port) {
  sockaddr_in address = MakeAddress(ip, port);
  int r = ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (r < 0) LastError = idstack::WSAErrorFromErrno(errno);
  return r;
}

int TIdStack::Connect(TIdStackSocketHandle socket, const std::string& ip, int32_t port) {
  sockaddr_in address = MakeAddress(ip, port);
  int r;
  do {
    r = ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } while (r < 0 && errno == EINTR);
  if (r < 0) LastError = idstack::WSAErrorFromErrno(errno);
  return r;
}

void TIdStack::ConnectWithin(TIdStackSocketHandle socket, const std::string& ip, int32_t port,
                             int32_t timeout) {
  sockaddr_in address = MakeAddress(ip, port);
  const int flags = ::fcntl(socket, F_GETFL, 0);
  CheckSocketResult(flags);
  CheckSocketResult(::fcntl(socket, F_SETFL, flags | O_NONBLOCK));
  int r = ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (r < 0 && errno != EINPROGRESS && errno != EINTR) {
    CheckSocketResult(r);
  } else if (r < 0) {
    int ready = PollOne(socket, POLLOUT, timeout);
    CheckSocketResult(ready);
    if (ready == 0) throw EIdConnectTimeout();
    int error = 0;
    socklen_t size = sizeof error;
    CheckSocketResult(::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size));
    if (error != 0) {
      LastError = idstack::WSAErrorFromErrno(error);
      idstack::RaiseSocketError(LastError);
    }
  }
  CheckSocketResult(::fcntl(socket, F_SETFL, flags));
}

int TIdStack::Receive(TIdStackSocketHandle socket, char* buffer, int length) {
  ssize_t r;
  do {
    r = ::recv(socket, buffer, static_cast<std::size_t>(length), 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) LastError = idstack::WSAErrorFromErrno(errno);
  return static_cast<int>(r);
}

int TIdStack::Send(TIdStackSocketHandle socket, const char* buffer, int length) {
  ssize_t r;
  do {
    r = ::send(socket, buffer, static_cast<std::size_t>(length), MSG_NOSIGNAL);
  } while (r < 0 && errno == EINTR);
  if (r < 0) LastError = idstack::WSAErrorFromErrno(errno);
  return static_cast<int>(r);
}

void TIdStack::Shutdown(TIdStackSocketHandle socket, int how) {
  ::shutdown(socket, how);
}

void TIdStack::Close(TIdStackSocketHandle socket) {
  ::close(socket);
}

bool TIdStack::WaitReadable(TIdStackSocketHandle socket, int32_t timeout) {
  int r = PollOne(socket, POLLIN, timeout == TimeoutInfinite ? -1 : std::max(timeout, 0));
  CheckSocketResult(r);
  return r == 1;
}

int TIdStack::SetSocketOption(TIdStackSocketHandle socket, int level, int option, int32_t value) {
  int v = value;
  return CheckSocketResult(::setsockopt(socket, level, option, &v, sizeof v));
}

void TIdStack::GetSocketName(TIdStackSocketHandle socket, std::string& ip, int32_t& port) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  CheckSocketResult(::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size));
  ip = idstack::AddressToText(ntohl(address.sin_addr.s_addr));
  port = ntohs(address.sin_port);
}

void TIdStack::GetPeerName(TIdStackSocketHandle socket, std::string& ip, int32_t& port) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  CheckSocketResult(::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &size));
  ip = idstack::AddressToText(ntohl(address.sin_addr.s_addr));
  port = ntohs(address.sin_port);
}

std::string TIdStack::ResolveToAddress(const std::string& host) {
  if (rt::SameText(host, "LOCALHOST")) return "127.0.0.1";
  if (idstack::IsDottedAddress(host)) return host;

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  int r = ::getaddrinfo(host.c_str(), nullptr, &hints, &answer);
  if (r != 0 || answer == nullptr) {
    // A system failure keeps its own error; every other failure is "not found".
    LastError = r == EAI_SYSTEM ? idstack::WSAErrorFromErrno(errno) : Id_WSAHOST_NOT_FOUND;
    if (answer) ::freeaddrinfo(answer);
    idstack::RaiseSocketError(LastError);
  }
  uint32_t address = ntohl(reinterpret_cast<sockaddr_in*>(answer->ai_addr)->sin_addr.s_addr);
  ::freeaddrinfo(answer);
  return idstack::AddressToText(address);
}

int32_t TIdStack::CheckSocketResult(int result, std::initializer_list<int32_t> ignore) {
  if (result != -1) return 0;
  LastError = idstack::WSAErrorFromErrno(errno);
  for (int32_t code : ignore)
    if (code == LastError) return LastError;
  idstack::RaiseSocketError(LastError);
}

TIdStack* SharedStack() {
  return gStackPointer.load(std::memory_order_acquire);
}

TIdComponent::TIdComponent() {
  std::lock_guard<std::mutex> lock(gStackLock);
  if (gComponentCount++ == 0) {
    gStack = std::make_unique<TIdStack>();
    gStackPointer.store(gStack.get(), std::memory_order_release);
  }
}

TIdComponent::~TIdComponent() {
  std::lock_guard<std::mutex> lock(gStackLock);
  if (--gComponentCount == 0) {
    gStackPointer.store(nullptr, std::memory_order_release);
    gStack.reset();
  }
}

std::string StatusText(TIdStatus status, const std::string& argument) {
  switch (status) {
    case TIdStatus::hsResolving:
      return "Resolving hostname " + argument + ".";
    case TIdStatus::hsConnecting:
      return "Connecting to " + argument + ".";
    case TIdStatus::hsConnected:
      return "Connected.";
    case TIdStatus::hsDisconnecting:
      return "Disconnecting.";
    case TIdStatus::hsDisconnected:
      return "Disconnected.";
    case TIdStatus::hsStatusText:
      break;
  }
  return argument;
}

void TIdComponent::DoStatus(TIdStatus status, const std::string& argument) {
  if (OnStatus) OnStatus(status, StatusText(status, argument));
}
