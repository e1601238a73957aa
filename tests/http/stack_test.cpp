#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "http/IdException.h"
#include "http/IdIOHandlerSocket.h"
#include "http/IdStack.h"

namespace {

// A socket bound to 127.0.0.1 on an ephemeral port; listening only when asked, so that a
// connect to a bound but silent port is refused.
class LocalPort {
 public:
  explicit LocalPort(bool listening, int backlog = 16) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    if (listening) {
      EXPECT_EQ(::listen(fd_, backlog), 0);
    }
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~LocalPort() { ::close(fd_); }
  int32_t port() const { return port_; }

 private:
  int fd_;
  int32_t port_;
};

struct Mapping {
  int platform;
  int32_t number;
  const char* text;
};

// Every platform code the stack maps, with the number and text the user must see.
const std::vector<Mapping> kExpected = {
    {ECONNREFUSED, 10061, "Connection refused."},
    {ECONNRESET, 10054, "Connection reset by peer."},
    {ECONNABORTED, 10053, "Software caused connection abort."},
    {EPIPE, 10058, "Cannot send or receive after socket is closed."},
    {ESHUTDOWN, 10058, "Cannot send or receive after socket is closed."},
    {ETIMEDOUT, 10060, "Connection timed out."},
    {EHOSTUNREACH, 10065, "No route to host."},
    {ENETUNREACH, 10051, "Network is unreachable."},
    {ENETDOWN, 10050, "Network is down."},
    {ENETRESET, 10052, "Net dropped connection or reset."},
    {EADDRINUSE, 10048, "Address already in use."},
    {EADDRNOTAVAIL, 10049, "Cannot assign requested address."},
    {EINTR, 10004, "Interrupted system call."},
    {EBADF, 10009, "Bad file number."},
    {EACCES, 10013, "Access denied."},
    {EFAULT, 10014, "Bad address."},
    {EINVAL, 10022, "Invalid argument."},
    {EMFILE, 10024, "Too many open files."},
    {EWOULDBLOCK, 10035, "Operation would block. "},
    {EAGAIN, 10035, "Operation would block. "},
    {EINPROGRESS, 10036, "Operation now in progress."},
    {EALREADY, 10037, "Operation already in progress."},
    {ENOTSOCK, 10038, "Socket operation on non-socket."},
    {EDESTADDRREQ, 10039, "Destination address required."},
    {EMSGSIZE, 10040, "Message too long."},
    {EPROTOTYPE, 10041, "Protocol wrong type for socket."},
    {ENOPROTOOPT, 10042, "Bad protocol option."},
    {EPROTONOSUPPORT, 10043, "Protocol not supported."},
    {ESOCKTNOSUPPORT, 10044, "Socket type not supported."},
    {EOPNOTSUPP, 10045, "Operation not supported on socket."},
    {EPFNOSUPPORT, 10046, "Protocol family not supported."},
    {EAFNOSUPPORT, 10047, "Address family not supported by protocol family."},
    {ENOBUFS, 10055, "No buffer space available."},
    {EISCONN, 10056, "Socket is already connected."},
    {ENOTCONN, 10057, "Socket is not connected."},
    {ETOOMANYREFS, 10059, "Too many references, cannot splice."},
    {ELOOP, 10062, "Too many levels of symbolic links."},
    {ENAMETOOLONG, 10063, "File name too long."},
    {EHOSTDOWN, 10064, "Host is down."},
    {ENOTEMPTY, 10066, "Directory not empty"},
};

TEST(SocketErrors, EveryPlatformCodeMapsToItsNumberAndText) {
  for (const Mapping& m : kExpected) {
    SCOPED_TRACE(m.number);
    EXPECT_EQ(idstack::WSAErrorFromErrno(m.platform), m.number);
    EXPECT_EQ(idstack::SocketErrorMessage(m.number),
              "Socket Error # " + std::to_string(m.number) + "\r\n" + m.text);
  }
  EXPECT_EQ(idstack::SocketErrorMessage(11001), "Socket Error # 11001\r\nHost not found.");
}

TEST(SocketErrors, UnlistedNumberEndsWithTheLineBreak) {
  EXPECT_EQ(idstack::SocketErrorMessage(10091), "Socket Error # 10091\r\n");
  try {
    idstack::RaiseSocketError(10091);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketCode, 10091);
    EXPECT_EQ(e.Message, "Socket Error # 10091\r\n");
  }
}

TEST(SocketErrors, CheckSocketResultIgnoresOnlyTheListedNumbers) {
  TIdComponent keep;
  TIdStack& stack = *SharedStack();
  EXPECT_EQ(stack.CheckSocketResult(0), 0);
  errno = ECONNABORTED;
  EXPECT_EQ(stack.CheckSocketResult(-1, {10058, 10053}), 10053);
  EXPECT_EQ(stack.LastError, 10053);
  errno = ECONNRESET;
  try {
    stack.CheckSocketResult(-1, {10058, 10053});
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketCode, 10054);
    EXPECT_EQ(e.Message, "Socket Error # 10054\r\nConnection reset by peer.");
  }
}

TEST(DottedAddress, AcceptsTheShortAndHexadecimalForms) {
  EXPECT_EQ(idstack::AddressToText(idstack::TextToAddress("10.1.2.3")), "10.1.2.3");
  EXPECT_EQ(idstack::AddressToText(idstack::TextToAddress("10.1")), "10.0.0.1");
  EXPECT_EQ(idstack::AddressToText(idstack::TextToAddress("10.1.258")), "10.1.1.2");
  EXPECT_EQ(idstack::AddressToText(idstack::TextToAddress("1.2.65535")), "1.2.255.255");
  EXPECT_EQ(idstack::AddressToText(idstack::TextToAddress("1.16777215")), "1.255.255.255");
  EXPECT_EQ(idstack::AddressToText(idstack::TextToAddress("4294967295")), "255.255.255.255");
  EXPECT_EQ(idstack::AddressToText(idstack::TextToAddress("2130706433")), "127.0.0.1");
  EXPECT_EQ(idstack::AddressToText(idstack::TextToAddress("$7F.0.0.$1")), "127.0.0.1");
  EXPECT_EQ(idstack::AddressToText(idstack::TextToAddress("$7F000001")), "127.0.0.1");
}

TEST(DottedAddress, RejectsPartsOutOfRangeAndOtherText) {
  for (const char* text : {"10.1.2.300", "1.2.65536", "1.16777216", "4294967296", "256.1",
                           "1.2.3.4.5", "-1.2.3.4", "a.b.c.d", "", "1..2.3", "host"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(idstack::IsDottedAddress(text));
  }
  try {
    idstack::TextToAddress("10.1.2.300");
    FAIL() << "no exception";
  } catch (const EIdInvalidIPAddress& e) {
    EXPECT_EQ(e.Message, "10.1.2.300 is not a valid IP address.");
  }
}

TEST(SharedStack, LivesFromTheFirstComponentToTheLast) {
  EXPECT_EQ(SharedStack(), nullptr);
  {
    TIdComponent first;
    TIdStack* stack = SharedStack();
    ASSERT_NE(stack, nullptr);
    {
      TIdComponent second;
      EXPECT_EQ(SharedStack(), stack);
    }
    EXPECT_EQ(SharedStack(), stack);
  }
  EXPECT_EQ(SharedStack(), nullptr);
}

TEST(ResolveToAddress, LocalhostAndDottedAddressesNeedNoLookup) {
  TIdComponent keep;
  TIdStack& stack = *SharedStack();
  EXPECT_EQ(stack.ResolveToAddress("localhost"), "127.0.0.1");
  EXPECT_EQ(stack.ResolveToAddress("LocalHost"), "127.0.0.1");
  EXPECT_EQ(stack.ResolveToAddress("10.1.2.3"), "10.1.2.3");
  EXPECT_EQ(stack.ResolveToAddress("10.1"), "10.1");  // dotted: used as written
}

TEST(ResolveToAddress, UnknownNameIsHostNotFound) {
  TIdComponent keep;
  try {
    SharedStack()->ResolveToAddress("no-such-host.lirenta.invalid");
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketCode, 11001);
    EXPECT_EQ(e.Message, "Socket Error # 11001\r\nHost not found.");
  }
}

TEST(TIdIOHandlerSocket, ConnectToAClosedPortIsRefused) {
  LocalPort silent(false);
  TIdIOHandlerSocket handler;
  handler.Open();
  try {
    handler.ConnectClient("127.0.0.1", silent.port(), "", 0, 0, 0, 0);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketCode, 10061);
    EXPECT_EQ(e.Message, "Socket Error # 10061\r\nConnection refused.");
  }
}

TEST(TIdIOHandlerSocket, PortOutsideTheTCPRangeIsRejectedNotWrapped) {
  // 65536 + 80 would otherwise reach port 80.
  TIdIOHandlerSocket handler;
  handler.Open();
  try {
    handler.ConnectClient("127.0.0.1", 65536 + 80, "", 0, 0, 0, 0);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.Message, "Socket Error # 10022\r\nInvalid argument.");
  }
}

TEST(TIdIOHandlerSocket, RefusedAlsoWithAConnectTimeout) {
  LocalPort silent(false);
  TIdIOHandlerSocket handler;
  handler.Open();
  try {
    handler.ConnectClient("127.0.0.1", silent.port(), "", 0, 0, 0, 2000);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.Message, "Socket Error # 10061\r\nConnection refused.");
  }
}

TEST(TIdIOHandlerSocket, ConnectTimeoutEndsAConnectThatHangs) {
  // A listener whose accept queue is full drops further connection requests, so a connect to
  // it hangs until the client gives up.
  LocalPort full(true, 0);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(full.port()));
    ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers.push_back(s);
  }
  ::usleep(100 * 1000);
  TIdIOHandlerSocket handler;
  handler.Open();
  auto start = std::chrono::steady_clock::now();
  try {
    handler.ConnectClient("127.0.0.1", full.port(), "", 0, 0, 0, 300);
    FAIL() << "connected to a full listener";
  } catch (const EIdConnectTimeout& e) {
    EXPECT_EQ(e.Message, "Connect timed out.");
  }
  // The bound on the wait is the point of the time-out; allow generous slack for a busy machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  for (int s : fillers) ::close(s);
}

TEST(TIdIOHandlerSocket, ConnectsReportsStatusAndSetsNagle) {
  LocalPort server(true);
  for (bool nagle : {true, false}) {
    TIdIOHandlerSocket handler;
    std::vector<std::string> status;
    handler.OnStatus = [&](TIdStatus, const std::string& text) { status.push_back(text); };
    handler.UseNagle = nagle;
    handler.Open();
    handler.ConnectClient("localhost", server.port(), "", 0, 0, 0, 0);
    ASSERT_TRUE(handler.Connected());
    EXPECT_EQ(status, (std::vector<std::string>{"Resolving hostname localhost.",
                                                "Connecting to 127.0.0.1."}));
    TIdSocketHandle& binding = *handler.Binding();
    EXPECT_EQ(binding.PeerIP, "127.0.0.1");
    EXPECT_EQ(binding.PeerPort, server.port());
    EXPECT_EQ(binding.IP, "127.0.0.1");
    EXPECT_NE(binding.Port, 0);
    int value = -1;
    socklen_t size = sizeof value;
    ::getsockopt(binding.Handle, IPPROTO_TCP, TCP_NODELAY, &value, &size);
    EXPECT_EQ(value != 0, !nagle);
    handler.Close();
    EXPECT_FALSE(handler.Connected());
  }
}

TEST(TIdIOHandlerSocket, DottedHostIsNotResolved) {
  LocalPort server(true);
  TIdIOHandlerSocket handler;
  std::vector<std::string> status;
  handler.OnStatus = [&](TIdStatus, const std::string& text) { status.push_back(text); };
  handler.Open();
  handler.ConnectClient("127.0.0.1", server.port(), "", 0, 0, 0, 0);
  EXPECT_EQ(status, std::vector<std::string>{"Connecting to 127.0.0.1."});
}

TEST(TIdIOHandlerSocket, WithoutSocketReceiveAndSendRaiseDisconnected) {
  TIdIOHandlerSocket handler;
  char byte = 0;
  int32_t error = 0;
  try {
    handler.Recv(&byte, 1, error);
    FAIL() << "no exception";
  } catch (const EIdClosedSocket& e) {
    EXPECT_EQ(e.Message, "Disconnected.");
  }
  EXPECT_THROW(handler.Send(&byte, 1, error), EIdClosedSocket);
  handler.Open();
  try {
    handler.Readable(10);
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_EQ(e.Message, "Connection Closed Gracefully.");
  }
}

TEST(TIdSocketHandle, BindFailuresNameTheAddressOrRange) {
  TIdComponent keep;
  LocalPort taken(true);
  {
    TIdSocketHandle binding;
    binding.AllocateSocket();
    binding.Port = taken.port();
    try {
      binding.Bind();
      FAIL() << "no exception";
    } catch (const EIdCouldNotBindSocket& e) {
      EXPECT_EQ(e.Message, "Could not bind socket. Address and port are already in use.");
    }
  }
  {
    TIdSocketHandle binding;
    binding.AllocateSocket();
    binding.ClientPortMin = taken.port();
    binding.ClientPortMax = taken.port();
    try {
      binding.Bind();
      FAIL() << "no exception";
    } catch (const EIdCanNotBindPortInRange& e) {
      const std::string p = std::to_string(taken.port());
      EXPECT_EQ(e.Message, "Can not bind in port range (" + p + " - " + p + ")");
    }
  }
  {
    TIdSocketHandle binding;
    binding.AllocateSocket();
    binding.ClientPortMin = 2000;
    binding.ClientPortMax = 1000;
    try {
      binding.Bind();
      FAIL() << "no exception";
    } catch (const EIdInvalidPortRange& e) {
      EXPECT_EQ(e.Message, "Invalid Port Range (2000 - 1000)");
    }
  }
  {
    TIdSocketHandle binding;
    binding.AllocateSocket();
    binding.IP = "10.1.2.300";
    try {
      binding.Bind();
      FAIL() << "no exception";
    } catch (const EIdInvalidIPAddress& e) {
      EXPECT_EQ(e.Message, "10.1.2.300 is not a valid IP address.");
    }
  }
}

TEST(TIdSocketHandle, WaitReadableWorksForHighDescriptorNumbers) {
  // poll has no 64-entry or FD_SETSIZE limit: a socket numbered above 1024 waits normally.
  LocalPort server(true);
  TIdIOHandlerSocket handler;
  handler.Open();
  handler.ConnectClient("127.0.0.1", server.port(), "", 0, 0, 0, 0);
  TIdSocketHandle& binding = *handler.Binding();
  // Descriptors above 1500 need a soft limit above it; the hard limit allows that here.
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_cur < 2048 && limit.rlim_max >= 2048) {
    limit.rlim_cur = 2048;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  }
  int high = ::fcntl(binding.Handle, F_DUPFD_CLOEXEC, 1500);
  ASSERT_GE(high, 0) << "descriptor limit below 1500";
  ::close(binding.Handle);
  binding.Handle = high;
  EXPECT_FALSE(binding.WaitReadable(20));
}

}  // namespace
