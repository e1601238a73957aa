// The scripted loopback server itself, driven through plain sockets.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "tests/support/ScriptedServer.h"

namespace {

using test::ScriptedServer;
using Ms = std::chrono::milliseconds;

int ConnectTo(int32_t port) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  EXPECT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return s;
}

// Reads until the server closes (or resets) or 3 s pass; `error` gets the errno of a failure.
std::string ReadAll(int s, int* error = nullptr) {
  std::string all;
  char block[4096];
  auto deadline = std::chrono::steady_clock::now() + Ms(3000);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd entry{s, POLLIN, 0};
    if (::poll(&entry, 1, 50) <= 0) continue;
    ssize_t n = ::recv(s, block, sizeof block, 0);
    if (n < 0 && error) *error = errno;
    if (n <= 0) break;
    all.append(block, static_cast<std::size_t>(n));
  }
  return all;
}

void SendText(int s, const std::string& text) {
  ASSERT_EQ(::send(s, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
}

TEST(ScriptedServer, RunsOneScriptPerConnectionAndRecordsEverything) {
  ScriptedServer server({
      {ScriptedServer::ExpectHead(), ScriptedServer::Send("first"), ScriptedServer::Close()},
      {ScriptedServer::Expect(3), ScriptedServer::ExpectLine(),
       ScriptedServer::SendPieces("second", 2, Ms(5)), ScriptedServer::Close()},
  });
  int a = ConnectTo(server.Port());
  SendText(a, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(ReadAll(a), "first");
  int b = ConnectTo(server.Port());
  SendText(b, "abcline\n");
  EXPECT_EQ(ReadAll(b), "second");
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Accepted(), 2);
  EXPECT_EQ(server.Received(0), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(server.Received(1), "abcline\n");
  EXPECT_TRUE(server.Failures().empty());
  ::close(a);
  ::close(b);
}

TEST(ScriptedServer, ConnectionsBeyondTheScriptsAreClosedAtOnce) {
  ScriptedServer server({});
  int s = ConnectTo(server.Port());
  EXPECT_EQ(ReadAll(s), "");
  EXPECT_EQ(server.Accepted(), 1);
  ::close(s);
}

TEST(ScriptedServer, MissedExpectationIsRecordedAsFailure) {
  ScriptedServer server({{ScriptedServer::Expect(10), ScriptedServer::Send("never")}}, Ms(100));
  int s = ConnectTo(server.Port());
  SendText(s, "abc");
  EXPECT_EQ(ReadAll(s), "");  // the connection ends without the send
  ASSERT_TRUE(server.WaitDone());
  ASSERT_EQ(server.Failures().size(), 1u);
  EXPECT_EQ(server.Failures()[0], "connection 0: expected 10 bytes, got 3");
  ::close(s);
}

TEST(ScriptedServer, HalfCloseStillReads) {
  ScriptedServer server({{ScriptedServer::Send("bye"), ScriptedServer::HalfClose(),
                          ScriptedServer::ExpectLine(), ScriptedServer::Close()}});
  int s = ConnectTo(server.Port());
  char block[16];
  ssize_t n = ::recv(s, block, sizeof block, MSG_WAITALL);
  EXPECT_EQ(std::string(block, n > 0 ? std::size_t(n) : 0), "bye");  // then end of stream
  SendText(s, "after\n");
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Received(0), "after\n");
  EXPECT_TRUE(server.Failures().empty());
  ::close(s);
}

TEST(ScriptedServer, ResetIsSeenAsReset) {
  ScriptedServer server({{ScriptedServer::ExpectLine(), ScriptedServer::Reset()}});
  int s = ConnectTo(server.Port());
  SendText(s, "x\n");
  ASSERT_TRUE(server.WaitDone());
  int error = 0;
  ReadAll(s, &error);
  EXPECT_EQ(error, ECONNRESET);
  ::close(s);
}

TEST(ScriptedServer, StallHoldsTheConnectionOpenUntilItsEnd) {
  ScriptedServer server({{ScriptedServer::Stall(Ms(200)), ScriptedServer::Send("late")}});
  int s = ConnectTo(server.Port());
  pollfd entry{s, POLLIN, 0};
  EXPECT_EQ(::poll(&entry, 1, 100), 0);  // nothing within the stall
  EXPECT_EQ(ReadAll(s), "late");
  ::close(s);
}

TEST(ScriptedServer, AwaitCloseWaitsForTheClient) {
  ScriptedServer server({{ScriptedServer::AwaitClose()}}, Ms(2000));
  int s = ConnectTo(server.Port());
  EXPECT_FALSE(server.WaitDone(Ms(50)));
  ::close(s);
  EXPECT_TRUE(server.WaitDone());
  EXPECT_TRUE(server.Failures().empty());
}

TEST(ScriptedServer, StopsByItselfAfterItsLifetime) {
  ScriptedServer server({{ScriptedServer::Stall(Ms(60000))}}, Ms(5000), Ms(200));
  int s = ConnectTo(server.Port());
  EXPECT_TRUE(server.WaitDone(Ms(3000)));  // the stall ends with the lifetime
  EXPECT_EQ(ReadAll(s), "");
  ::close(s);
}

}  // namespace
