// Socket error numbers and texts, dotted addresses, the shared stack, and the socket I/O handler
// against ports on 127.0.0.1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "http/IdException.h"
#include "http/IdIOHandlerSocket.h"
#include "http/IdStack.h"
#include "tests/support/Failures.h"
#include "tests/support/ScriptedServer.h"

namespace {

using test::LoopbackPort;
using test::MessageOf;
using Error = std::pair<int32_t, std::string>;

// The number and message of the socket error `action` raises.
Error SocketErrorOf(const std::function<void()>& action) {
  const EIdSocketError e = test::FailureOf<EIdSocketError>(action, 0, "");
  return {e.SocketCode, e.Message};
}

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
  EXPECT_EQ(SocketErrorOf([] { idstack::RaiseSocketError(10091); }),
            (Error{10091, "Socket Error # 10091\r\n"}));
}

TEST(SocketErrors, CheckSocketResultIgnoresOnlyTheListedNumbers) {
  TIdComponent keep;
  TIdStack& stack = *SharedStack();
  EXPECT_EQ(stack.CheckSocketResult(0), 0);
  errno = ECONNABORTED;
  EXPECT_EQ(stack.CheckSocketResult(-1, {10058, 10053}), 10053);
  EXPECT_EQ(stack.LastError, 10053);
  errno = ECONNRESET;
  EXPECT_EQ(SocketErrorOf([&] {
              stack.CheckSocketResult(-1, {10058, 10053});
            }),
            (Error{10054, "Socket Error # 10054\r\nConnection reset by peer."}));
}

TEST(DottedAddress, AcceptsTheShortAndHexadecimalForms) {
  const std::pair<const char*, const char*> cases[] = {
      {"10.1.2.3", "10.1.2.3"},        {"10.1", "10.0.0.1"},
      {"10.1.258", "10.1.1.2"},        {"1.2.65535", "1.2.255.255"},
      {"1.16777215", "1.255.255.255"}, {"4294967295", "255.255.255.255"},
      {"2130706433", "127.0.0.1"},     {"$7F.0.0.$1", "127.0.0.1"},
      {"$7F000001", "127.0.0.1"},
  };
  for (const auto& [text, address] : cases)
    EXPECT_EQ(idstack::AddressToText(idstack::TextToAddress(text)), address) << text;
}

TEST(DottedAddress, RejectsPartsOutOfRangeAndOtherText) {
  for (const char* text : {"10.1.2.300", "1.2.65536", "1.16777216", "4294967296", "256.1",
                           "1.2.3.4.5", "-1.2.3.4", "a.b.c.d", "", "1..2.3", "host"})
    EXPECT_FALSE(idstack::IsDottedAddress(text)) << text;
  EXPECT_EQ(MessageOf<EIdInvalidIPAddress>([] { idstack::TextToAddress("10.1.2.300"); }),
            "10.1.2.300 is not a valid IP address.");
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
  EXPECT_EQ(SocketErrorOf([] { SharedStack()->ResolveToAddress("no-such-host.lirenta.invalid"); }),
            (Error{11001, "Socket Error # 11001\r\nHost not found."}));
}

// The error a fresh handler's connect to 127.0.0.1:`port` raises.
Error ConnectErrorOf(int32_t port, int32_t timeout) {
  TIdIOHandlerSocket handler;
  handler.Open();
  return SocketErrorOf([&] { handler.ConnectClient("127.0.0.1", port, "", 0, 0, 0, timeout); });
}

TEST(TIdIOHandlerSocket, ConnectToAClosedPortIsRefused) {
  LoopbackPort refusing(LoopbackPort::Kind::Refusing);
  for (int32_t timeout : {0, 2000})
    EXPECT_EQ(ConnectErrorOf(refusing.Port(), timeout),
              (Error{10061, "Socket Error # 10061\r\nConnection refused."}))
        << timeout;
}

TEST(TIdIOHandlerSocket, PortOutsideTheTCPRangeIsRejectedNotWrapped) {
  // 65536 + 80 would otherwise reach port 80.
  EXPECT_EQ(ConnectErrorOf(65536 + 80, 0).second, "Socket Error # 10022\r\nInvalid argument.");
}

TEST(TIdIOHandlerSocket, ConnectTimeoutEndsAConnectThatHangs) {
  // A listener whose accept queue is full drops further connection requests, so a connect to
  // it hangs until the client gives up.
  LoopbackPort full(LoopbackPort::Kind::Full);
  TIdIOHandlerSocket handler;
  handler.Open();
  EXPECT_EQ(MessageOf<EIdConnectTimeout>(
                [&] { handler.ConnectClient("127.0.0.1", full.Port(), "", 0, 0, 0, 300); }),
            "Connect timed out.");
}

TEST(TIdIOHandlerSocket, ConnectsReportsStatusAndSetsNagle) {
  LoopbackPort server(LoopbackPort::Kind::Listening);
  for (bool nagle : {true, false}) {
    TIdIOHandlerSocket handler;
    std::vector<std::string> status;
    handler.OnStatus = [&](TIdStatus, const std::string& text) { status.push_back(text); };
    handler.UseNagle = nagle;
    handler.Open();
    handler.ConnectClient("localhost", server.Port(), "", 0, 0, 0, 0);
    ASSERT_TRUE(handler.Connected());
    EXPECT_EQ(status, (std::vector<std::string>{"Resolving hostname localhost.",
                                                "Connecting to 127.0.0.1."}));
    TIdSocketHandle& binding = *handler.Binding();
    EXPECT_EQ(binding.PeerIP, "127.0.0.1");
    EXPECT_EQ(binding.PeerPort, server.Port());
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
  LoopbackPort server(LoopbackPort::Kind::Listening);
  TIdIOHandlerSocket handler;
  std::vector<std::string> status;
  handler.OnStatus = [&](TIdStatus, const std::string& text) { status.push_back(text); };
  handler.Open();
  handler.ConnectClient("127.0.0.1", server.Port(), "", 0, 0, 0, 0);
  EXPECT_EQ(status, std::vector<std::string>{"Connecting to 127.0.0.1."});
}

TEST(TIdIOHandlerSocket, WithoutSocketReceiveAndSendRaiseDisconnected) {
  TIdIOHandlerSocket handler;
  char byte = 0;
  int32_t error = 0;
  EXPECT_EQ(MessageOf<EIdClosedSocket>([&] { handler.Recv(&byte, 1, error); }), "Disconnected.");
  EXPECT_THROW(handler.Send(&byte, 1, error), EIdClosedSocket);
  handler.Open();
  EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { handler.Readable(10); }),
            "Connection Closed Gracefully.");
}

// The message of the `E` that binding a fresh socket raises after `setUp`.
template <class E>
std::string BindFailure(const std::function<void(TIdSocketHandle&)>& setUp) {
  TIdSocketHandle binding;
  binding.AllocateSocket();
  setUp(binding);
  return MessageOf<E>([&] { binding.Bind(); });
}

TEST(TIdSocketHandle, BindFailuresNameTheAddressOrRange) {
  TIdComponent keep;
  LoopbackPort taken(LoopbackPort::Kind::Listening);
  const int32_t port = taken.Port();
  const std::string p = std::to_string(port);
  EXPECT_EQ(BindFailure<EIdCouldNotBindSocket>([&](TIdSocketHandle& b) { b.Port = port; }),
            "Could not bind socket. Address and port are already in use.");
  EXPECT_EQ(BindFailure<EIdCanNotBindPortInRange>(
                [&](TIdSocketHandle& b) { b.ClientPortMin = b.ClientPortMax = port; }),
            "Can not bind in port range (" + p + " - " + p + ")");
  EXPECT_EQ(BindFailure<EIdInvalidPortRange>([](TIdSocketHandle& b) {
              b.ClientPortMin = 2000;
              b.ClientPortMax = 1000;
            }),
            "Invalid Port Range (2000 - 1000)");
  EXPECT_EQ(BindFailure<EIdInvalidIPAddress>([](TIdSocketHandle& b) { b.IP = "10.1.2.300"; }),
            "10.1.2.300 is not a valid IP address.");
}

TEST(TIdSocketHandle, WaitReadableWorksForHighDescriptorNumbers) {
  // poll has no 64-entry or FD_SETSIZE limit: a socket numbered above 1024 waits normally.
  LoopbackPort server(LoopbackPort::Kind::Listening);
  TIdIOHandlerSocket handler;
  handler.Open();
  handler.ConnectClient("127.0.0.1", server.Port(), "", 0, 0, 0, 0);
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
