// A socket connection waits for input through the socket's own receive time limit, set when a
// wait's limit differs from the last one. These cases change the limit from read to read on one
// connection: a limit that ran out must neither shorten a later wait nor outlive it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "http/IdException.h"
#include "http/IdTCPConnection.h"
#include "tests/support/Failures.h"
#include "tests/support/ScriptedServer.h"

namespace {

using test::MessageOf;
using test::ScriptedServer;
using Ms = std::chrono::milliseconds;

class ReceiveTimeLimit : public ::testing::Test {
 protected:
  void Open(ScriptedServer& server) {
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.ConnectToPeer(0);
  }
  TIdTCPClient client;
};

TEST_F(ReceiveTimeLimit, AWaitWithoutLimitOrWithALongerOneAfterOneThatRanOut) {
  for (const int32_t later : {0, 60000}) {
    ScriptedServer server({{ScriptedServer::Stall(Ms(400)), ScriptedServer::Send("late\r\n"),
                            ScriptedServer::AwaitClose()}});
    Open(server);
    client.ReadTimeout = 50;
    EXPECT_EQ(MessageOf<EIdReadTimeout>([&] { client.ReadLine(); }), "Read Timeout") << later;
    client.ReadTimeout = later;
    EXPECT_EQ(client.ReadLine(), "late") << later;
    client.DisconnectFromPeer();
  }
}

TEST_F(ReceiveTimeLimit, TheLookBetweenWaitsNeitherWaitsForNorLosesInput) {
  ScriptedServer server({{ScriptedServer::Send("first\r\n"), ScriptedServer::ExpectLine(),
                          ScriptedServer::Send("second\r\n"), ScriptedServer::AwaitClose()}});
  Open(server);
  client.ReadTimeout = 60000;
  EXPECT_EQ(client.ReadLine(), "first");
  // Nothing waits now: the look returns, the connection stays open and nothing was queued.
  client.PollPeerClosed(false);
  EXPECT_TRUE(client.IsConnected());
  EXPECT_EQ(client.InputQueue.Size(), 0u);
  client.WriteLine("next");
  // An explicit wait without limit after the limited ones.
  EXPECT_EQ(client.ReadLine("\n", TimeoutInfinite), "second");
}

}  // namespace
