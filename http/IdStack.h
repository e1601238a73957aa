// The socket stack: the process-wide layer over the platform's IPv4 TCP sockets.
//
// Every failing socket call becomes an EIdSocketError carrying a Windows Sockets error number
// and its fixed English text ("Socket Error # %d\r\n%s"); the platform's own error codes are
// mapped onto those numbers in one table, so messages read the same on every platform.
//
// One stack object serves the whole process. It exists while at least one TIdComponent lives:
// the first component creates it, the last one frees it.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

// Sentinels of every time-out argument of the client, in milliseconds.
constexpr int32_t TimeoutDefault = -1;   // use the connection's ReadTimeout
constexpr int32_t TimeoutInfinite = -2;  // wait without limit

// Windows Sockets error numbers the client itself tests for.
constexpr int32_t Id_WSAEINTR = 10004;
constexpr int32_t Id_WSAEBADF = 10009;
constexpr int32_t Id_WSAEINVAL = 10022;
constexpr int32_t Id_WSAEWOULDBLOCK = 10035;
constexpr int32_t Id_WSAENOTSOCK = 10038;
constexpr int32_t Id_WSAEADDRINUSE = 10048;
constexpr int32_t Id_WSAECONNABORTED = 10053;
constexpr int32_t Id_WSAECONNRESET = 10054;
constexpr int32_t Id_WSAESHUTDOWN = 10058;
constexpr int32_t Id_WSAETIMEDOUT = 10060;
constexpr int32_t Id_WSAECONNREFUSED = 10061;
constexpr int32_t Id_WSAHOST_NOT_FOUND = 11001;

// A platform socket; -1 when none.
using TIdStackSocketHandle = int;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;

class TIdStack {
 public:
  TIdStack() = default;
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;

  // A new IPv4 stream socket; EIdInvalidSocket when none can be created.
  TIdStackSocketHandle NewSocketHandle();
  // Return the platform's result: -1 on failure, with the mapped error stored as LastError.
  // An empty `ip` binds to any local address.
  int Bind(TIdStackSocketHandle socket, const std::string& ip, int32_t port);
  int Connect(TIdStackSocketHandle socket, const std::string& ip, int32_t port);
  // A connect that gives up after `timeout` ms: EIdConnectTimeout when it ran out, the socket
  // error when the connect failed.
  void ConnectWithin(TIdStackSocketHandle socket, const std::string& ip, int32_t port,
                     int32_t timeout);
  // Bytes moved, 0 when the peer closed, -1 on failure (LastError set). Writes never raise
  // SIGPIPE.
  int Receive(TIdStackSocketHandle socket, char* buffer, int length);
  int Send(TIdStackSocketHandle socket, const char* buffer, int length);
  void Shutdown(TIdStackSocketHandle socket, int how);
  void Close(TIdStackSocketHandle socket);
  // True when a receive would not block within `timeout` ms (TimeoutInfinite: no limit).
  // Failures of the wait raise the socket error.
  bool WaitReadable(TIdStackSocketHandle socket, int32_t timeout);
  int SetSocketOption(TIdStackSocketHandle socket, int level, int option, int32_t value);
  // Local or peer address of a socket as dotted text and port; raise the socket error on failure.
  void GetSocketName(TIdStackSocketHandle socket, std::string& ip, int32_t& port);
  void GetPeerName(TIdStackSocketHandle socket, std::string& ip, int32_t& port);

  // "LOCALHOST" (any case) is 127.0.0.1, a dotted address stays as it is, any other name is
  // looked up and its first IPv4 address returned; a failed lookup raises socket error 11001.
  std::string ResolveToAddress(const std::string& host);

  // Given a platform call's result: passes when it is not -1; otherwise stores the mapped
  // error as LastError and returns it when it is one of `ignore`, else raises the socket error.
  int32_t CheckSocketResult(int result, std::initializer_list<int32_t> ignore = {});

  int32_t LastError = 0;
};

// The stack of the process, or nullptr while no component lives.
TIdStack* SharedStack();

// The base of every client component: keeps the shared stack alive and reports status texts.
enum class TIdStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText
};

class TIdComponent {
 public:
  using TIdStatusEvent = std::function<void(TIdStatus status, const std::string& text)>;

  TIdComponent();
  virtual ~TIdComponent();
  TIdComponent(const TIdComponent&) = delete;
  TIdComponent& operator=(const TIdComponent&) = delete;

  // Reports a status with its text: the status's fixed text, filled with `argument` where it
  // has a "%s".
  void DoStatus(TIdStatus status, const std::string& argument = "");

  TIdStatusEvent OnStatus;
};

// The text of a status, as DoStatus passes it on.
std::string StatusText(TIdStatus status, const std::string& argument);

namespace idstack {

// The Windows Sockets number for a platform error code (errno); codes without an equivalent
// keep their own number.
int32_t WSAErrorFromErrno(int code);
// The fixed text of a Windows Sockets number; empty for numbers without one.
std::string_view WSAErrorText(int32_t code);
// "Socket Error # %d\r\n%s" for a number.
std::string SocketErrorMessage(int32_t code);
[[noreturn]] void RaiseSocketError(int32_t code);

// Dotted IPv4 address test and conversion. Accepted: a.b.c.d, a.b.c (c: two low bytes),
// a.b (b: three low bytes) and a single 32-bit number; every part read by the standard
// integer conversion ("$" for hexadecimal).
bool IsDottedAddress(std::string_view text);
// The address in host byte order; EIdInvalidIPAddress "%s is not a valid IP address." otherwise.
uint32_t TextToAddress(std::string_view text);
std::string AddressToText(uint32_t address);

}  // namespace idstack
