// What no test of a client would notice if the scripted server broke it: a step it could not
// complete is reported, waiting for the client's close really waits, and a half-close still
// reads. Without these, a client that sends too little or never closes would pass every test
// that uses the server, and a half-close would silently become a full close.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/ScriptedServer.h"

namespace {

using S = test::ScriptedServer;
using Ms = std::chrono::milliseconds;

int ConnectTo(const S& server) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(server.Port()));
  EXPECT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return s;
}

TEST(ScriptedServer, MissedExpectationIsRecordedAsFailure) {
  S server({{S::Expect(10), S::Send("never")}}, Ms(100));
  int s = ConnectTo(server);
  ASSERT_EQ(::send(s, "abc", 3, MSG_NOSIGNAL), 3);
  ASSERT_TRUE(server.WaitDone());
  char byte;
  ASSERT_TRUE(test::WaitForSocket(s, POLLIN));
  EXPECT_EQ(::recv(s, &byte, 1, 0), 0);  // the connection ended without the send
  EXPECT_EQ(server.Failures(), std::vector<std::string>{"connection 0: expected 10 bytes, got 3"});
  ::close(s);
}

TEST(ScriptedServer, AwaitCloseWaitsForTheClient) {
  S server({{S::AwaitClose()}}, Ms(2000));
  int s = ConnectTo(server);
  EXPECT_FALSE(server.WaitDone(Ms(50)));
  ::close(s);
  EXPECT_TRUE(server.WaitDone());
  EXPECT_TRUE(server.Failures().empty());
}

TEST(ScriptedServer, HalfCloseStillReads) {
  S server({{S::Send("bye"), S::HalfClose(), S::ExpectLine(), S::Close()}});
  int s = ConnectTo(server);
  char block[16];
  ssize_t n = ::recv(s, block, sizeof block, MSG_WAITALL);
  EXPECT_EQ(std::string(block, n > 0 ? std::size_t(n) : 0), "bye");  // then end of stream
  ASSERT_EQ(::send(s, "after\n", 6, MSG_NOSIGNAL), 6);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Received(0), "after\n");
  EXPECT_TRUE(server.Failures().empty());
  ::close(s);
}

}  // namespace
