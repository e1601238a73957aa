// The TCP connection: its input queue, reading lines and byte counts, writing, and noticing a
// close, against a memory peer and against a scripted server on 127.0.0.1.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <string>
#include <vector>

#include "http/IdException.h"
#include "http/IdIOHandlerMemory.h"
#include "http/IdIOHandlerSocket.h"
#include "http/IdTCPConnection.h"
#include "tests/support/Failures.h"
#include "tests/support/ScriptedServer.h"

namespace {

using S = test::ScriptedServer;
using Ms = std::chrono::milliseconds;

// A client connected to a memory peer.
class MemoryConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    client.SetIOHandler(&peer);
    client.Host = "peer";
    client.Port = 80;
    client.ConnectToPeer(0);
  }

  TIdIOHandlerMemory peer;
  TIdTCPClient client;
};

using test::MessageOf;

TEST(TIdManagedBuffer, HandsOutBytesInOrderAcrossCompaction) {
  TIdManagedBuffer queue;
  std::string expected, taken;
  // Enough traffic to pass the compaction point several times with bytes still queued.
  for (int i = 0; i < 5000; ++i) {
    std::string piece = "line " + std::to_string(i) + "\n";
    queue.Append(piece.data(), piece.size());
    expected += piece;
    if (i % 3 == 2) queue.ExtractTo(taken, queue.Size() / 2);
  }
  queue.ExtractTo(taken, queue.Size());
  EXPECT_EQ(taken, expected);
  EXPECT_EQ(queue.Size(), 0u);
}

TEST(TIdManagedBuffer, TakingMoreThanQueuedFailsAndKeepsTheBytes) {
  TIdManagedBuffer queue;
  queue.Append("abc", 3);
  std::string out;
  EXPECT_EQ(MessageOf<EIdNotEnoughDataInBuffer>([&] { queue.ExtractTo(out, 4); }),
            "Not enough data in buffer.");
  EXPECT_THROW(queue.Remove(4), EIdTCPConnectionError);
  EXPECT_EQ(queue.Size(), 3u);
  EXPECT_EQ(out, "");
  EXPECT_EQ(queue.Find("c", 0), 2u);
  EXPECT_EQ(queue.Find("c", 3), std::string_view::npos);
}

TEST_F(MemoryConnection, LineEndsWithCRLFOrLFAndLoneCRStays) {
  peer.Feed("abc\r\nabc\nx\ry\n\r\n\n");
  EXPECT_EQ(client.ReadLine(), "abc");
  EXPECT_EQ(client.ReadLine(), "abc");
  EXPECT_EQ(client.ReadLine(), "x\ry");
  EXPECT_EQ(client.ReadLine(), "");
  EXPECT_EQ(client.ReadLine(), "");
  EXPECT_EQ(client.InputQueue.Size(), 0u);
}

TEST_F(MemoryConnection, OtherTerminatorsMayStraddleReceives) {
  peer.FeedBytewise("one--two--");
  EXPECT_EQ(client.ReadLine("--"), "one");
  EXPECT_EQ(client.ReadLine("--"), "two");
}

TEST_F(MemoryConnection, LineAtTheLimitIsAcceptedOneMoreRaises) {
  const std::string atLimit(16384, 'a');
  peer.Feed(atLimit + "\n" + std::string(16383, 'b') + "\r\n");
  EXPECT_EQ(client.ReadLine(), atLimit);
  EXPECT_EQ(client.ReadLine(), std::string(16383, 'b'));

  peer.Feed(std::string(16385, 'c') + "\n");
  EXPECT_EQ(MessageOf<EIdReadLnMaxLineLengthExceeded>([&] { client.ReadLine(); }),
            "Max line length exceeded.");
  EXPECT_FALSE(client.LineWasSplit);
}

TEST_F(MemoryConnection, CarriageReturnCountsTowardsTheLimit) {
  peer.Feed(std::string(16384, 'a') + "\r\n");
  EXPECT_THROW(client.ReadLine(), EIdReadLnMaxLineLengthExceeded);
}

TEST_F(MemoryConnection, SplitActionHandsOutTheLimitAndKeepsTheRest) {
  client.MaxLineAction = TIdMaxLineAction::maSplit;
  peer.Feed(std::string(16384, 'a') + "xy\n");
  EXPECT_EQ(client.ReadLine(), std::string(16384, 'a'));
  EXPECT_TRUE(client.LineWasSplit);
  EXPECT_EQ(client.ReadLine(), "xy");
  EXPECT_FALSE(client.LineWasSplit);

  peer.Feed(std::string(16384, 'b') + "\n");
  EXPECT_EQ(client.ReadLine(), std::string(16384, 'b'));
  EXPECT_FALSE(client.LineWasSplit);
}

TEST_F(MemoryConnection, LongQueuedTextWithoutLineEndRaisesWithoutReadingMore) {
  peer.Feed(std::string(20000, 'a'));
  peer.Feed("\n");
  EXPECT_THROW(client.ReadLine(), EIdReadLnMaxLineLengthExceeded);
  EXPECT_EQ(peer.RecvCalls, 1);
  EXPECT_EQ(peer.Pending(), 1u);
  EXPECT_EQ(client.InputQueue.Size(), 20000u);  // nothing was taken

  client.MaxLineAction = TIdMaxLineAction::maSplit;
  EXPECT_EQ(client.ReadLine(), std::string(16384, 'a'));
  EXPECT_TRUE(client.LineWasSplit);
  EXPECT_EQ(peer.RecvCalls, 1);
  EXPECT_EQ(client.ReadLine(), std::string(20000 - 16384, 'a'));
}

TEST_F(MemoryConnection, LimitZeroMeansNoLimit) {
  peer.Feed(std::string(40000, 'a') + "\n");
  EXPECT_EQ(client.ReadLine("\n", TimeoutDefault, 0).size(), 40000u);
}

TEST_F(MemoryConnection, InputArrivingOneByteAtATime) {
  peer.FeedBytewise("HTTP/1.1 200 OK\r\nX-A: b\r\n\r\nbody");
  EXPECT_EQ(client.ReadLine(), "HTTP/1.1 200 OK");
  EXPECT_EQ(client.ReadLine(), "X-A: b");
  EXPECT_EQ(client.ReadLine(), "");
  std::string body;
  client.ReadExact(body, 4);
  EXPECT_EQ(body, "body");
}

TEST_F(MemoryConnection, BytesAfterALineStayQueuedForTheNextRead) {
  peer.Feed("line1\nextra");
  EXPECT_EQ(client.ReadLine(), "line1");
  EXPECT_EQ(client.InputQueue.Size(), 5u);
  peer.Feed("\n");
  EXPECT_EQ(client.ReadLine(), "extra");
}

TEST_F(MemoryConnection, PeerClosingWithoutLineEndRaisesClosedGracefully) {
  peer.Feed("ab");
  peer.FeedClose();
  EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { client.ReadLine(); }),
            "Connection Closed Gracefully.");
  EXPECT_FALSE(peer.Connected());
}

TEST_F(MemoryConnection, QueuedBytesOutliveTheClose) {
  peer.Feed("0123456789");
  peer.FeedClose();
  EXPECT_EQ(client.FillInput(true, TimeoutDefault, true), 10);
  EXPECT_EQ(client.FillInput(true, TimeoutDefault, true), 0);  // the close: nothing raised
  EXPECT_TRUE(client.PeerClosed);
  EXPECT_FALSE(client.IsConnected());
  std::string bytes;
  client.ReadExact(bytes, 10);
  EXPECT_EQ(bytes, "0123456789");
  EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { client.ReadExact(bytes, 1); }),
            "Connection Closed Gracefully.");
}

TEST_F(MemoryConnection, ReadToStreamShortByThePeerKeepsWhatCame) {
  peer.Feed(std::string(60, 'x'));
  peer.FeedClose();
  std::string stream = "head:";
  EXPECT_THROW(client.ReadToStream(stream, 100, false), EIdConnClosedGracefully);
  EXPECT_EQ(stream, "head:" + std::string(60, 'x'));
}

TEST_F(MemoryConnection, ReadToStreamTakesQueuedBytesFirstAndStopsAtTheCount) {
  peer.Feed("status\nbody-bytes|next");
  EXPECT_EQ(client.ReadLine(), "status");
  std::string stream;
  client.ReadToStream(stream, 10, false);
  EXPECT_EQ(stream, "body-bytes");
  EXPECT_EQ(client.InputQueue.Size(), 5u);
}

TEST_F(MemoryConnection, ReadToStreamUntilCloseEndsQuietly) {
  client.RecvBufferSize = 7;  // several blocks, the last one short
  peer.FeedBytewise("abc");
  peer.Feed(std::string(50, 'd'));
  peer.FeedClose();
  std::string stream;
  client.ReadToStream(stream, -1, true);
  EXPECT_EQ(stream, "abc" + std::string(50, 'd'));
  EXPECT_FALSE(client.IsConnected());
}

TEST_F(MemoryConnection, ReadToStreamUntilCloseHonoursAGivenCount) {
  peer.Feed(std::string(50, 'd'));
  std::string stream;
  client.ReadToStream(stream, 20, true);
  EXPECT_EQ(stream.size(), 20u);
  EXPECT_TRUE(client.IsConnected());
}

TEST_F(MemoryConnection, ReadToStreamWithoutCountReadsALengthFirst) {
  peer.Feed(std::string("\0\0\0\x05hello!", 10));
  std::string stream;
  client.ReadToStream(stream, -1, false);
  EXPECT_EQ(stream, "hello");
}

TEST_F(MemoryConnection, ConnectWhileOpenRaisesAlreadyConnected) {
  peer.Feed("kept\n");
  client.FillInput(true, TimeoutDefault, true);
  EXPECT_EQ(MessageOf<EIdAlreadyConnected>([&] { client.ConnectToPeer(0); }), "Already connected.");
  EXPECT_TRUE(client.IsConnected());
  EXPECT_EQ(client.ReadLine(), "kept");
}

TEST_F(MemoryConnection, ReconnectEmptiesTheQueue) {
  peer.Feed("old\n");
  client.FillInput(true, TimeoutDefault, true);
  client.DisconnectFromPeer();
  EXPECT_EQ(client.InputQueue.Size(), 4u);  // a close leaves queued bytes alone
  client.ConnectToPeer(0);
  EXPECT_EQ(client.InputQueue.Size(), 0u);
  EXPECT_EQ(peer.ConnectCount, 2);
  EXPECT_EQ(client.IOHandler(), &peer);  // a handler given by the caller stays
}

TEST_F(MemoryConnection, TimeoutsRaiseOrReturnEmpty) {
  client.ReadTimeout = 50;
  EXPECT_EQ(MessageOf<EIdReadTimeout>([&] { client.ReadLine(); }), "Read Timeout");
  EXPECT_EQ(client.ReadLine("\n", 50), "");
  EXPECT_TRUE(client.LineTimedOut);
  EXPECT_EQ(client.FillInput(true, 1, false), -1);
  EXPECT_TRUE(client.IsConnected());
}

TEST_F(MemoryConnection, AbortWithQueuedBytesCountsAsClose) {
  peer.Feed("a\nb");
  peer.FeedError(10053);
  EXPECT_EQ(client.ReadLine(), "a");
  EXPECT_EQ(client.FillInput(true, TimeoutDefault, true), 0);
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(client.InputQueue.Size(), 1u);
}

TEST_F(MemoryConnection, AbortOrShutdownWithEmptyQueueRaisesAndCloses) {
  peer.FeedError(10058);
  EXPECT_EQ(MessageOf<EIdSocketError>([&] { client.ReadLine(); }),
            "Socket Error # 10058\r\nCannot send or receive after socket is closed.");
  EXPECT_FALSE(peer.Connected());
}

TEST_F(MemoryConnection, ResetRaisesAndLeavesTheSocketOpen) {
  peer.FeedError(10054);
  EXPECT_EQ(MessageOf<EIdSocketError>([&] { client.ReadLine(); }),
            "Socket Error # 10054\r\nConnection reset by peer.");
  EXPECT_TRUE(peer.Connected());
}

TEST(TIdTCPConnectionClosed, ReadAndWriteWithoutConnectionRaiseNotConnected) {
  TIdTCPClient client;
  EXPECT_EQ(MessageOf<EIdNotConnected>([&] { client.ReadLine(); }), "Not Connected");
  EXPECT_EQ(MessageOf<EIdNotConnected>([&] { client.WriteLine("x"); }), "Not Connected");
  EXPECT_FALSE(client.IsConnected());
  client.DisconnectFromPeer();  // nothing to do, nothing raised
}

TEST_F(MemoryConnection, WriteBatchLeavesInOneSend) {
  client.StartWriteBatch(-1);
  client.WriteLine("GET / HTTP/1.1");
  client.WriteLine("Host: h");
  client.WriteLine("");
  EXPECT_EQ(peer.SendCalls, 0);
  client.FlushWriteBatch();
  EXPECT_EQ(peer.SendCalls, 1);
  EXPECT_EQ(peer.Written, "GET / HTTP/1.1\r\nHost: h\r\n\r\n");
  client.WriteText("");  // empty text sends nothing
  client.WriteText("after");
  EXPECT_EQ(peer.SendCalls, 2);
}

TEST_F(MemoryConnection, WriteBatchThresholdSendsFullPortions) {
  client.StartWriteBatch(4);
  client.WriteText("abcdef");
  EXPECT_EQ(peer.Written, "abcd");
  client.FlushWriteBatch();
  EXPECT_EQ(peer.Written, "abcdef");
}

TEST_F(MemoryConnection, FailedSendClosesAndRaises) {
  peer.SendError = 10054;
  client.StartWriteBatch(-1);
  client.WriteLine("x");
  EXPECT_EQ(MessageOf<EIdSocketError>([&] { client.FlushWriteBatch(); }),
            "Socket Error # 10054\r\nConnection reset by peer.");
  EXPECT_FALSE(peer.Connected());
  // The batch is closed even though its send failed.
  client.ConnectToPeer(0);
  peer.SendError = 0;
  client.WriteText("y");
  EXPECT_EQ(peer.Written, "y");
}

// --- over real sockets ---------------------------------------------------------------------

class LoopbackConnection : public ::testing::Test {
 protected:
  void Open(const S& server) {
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.ConnectToPeer(0);
  }
  // The client's socket, to wait on what the server did to it.
  int Socket() { return dynamic_cast<TIdIOHandlerSocket&>(*client.IOHandler()).Binding()->Handle; }
  TIdTCPClient client;
};

TEST_F(LoopbackConnection, ExchangesLinesWithAServer) {
  S server({{S::ExpectLine(), S::Send("hello\r\nrest"), S::AwaitClose()}});
  std::vector<std::string> status;
  client.OnStatus = [&](TIdStatus, const std::string& text) { status.push_back(text); };
  Open(server);
  client.WriteLine("ping");
  EXPECT_EQ(client.ReadLine(), "hello");
  client.DisconnectFromPeer();
  EXPECT_EQ(client.IOHandler(), nullptr);  // its own handler is freed with the close
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Received(0), "ping\r\n");
  EXPECT_TRUE(server.Failures().empty());
  EXPECT_EQ(status, (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected.",
                                              "Disconnecting.", "Disconnected."}));
}

TEST_F(LoopbackConnection, InputInSmallPiecesAndClose) {
  S server({{S::SendPieces("line one\r\nline two\n", 1, Ms(2)),
             S::SendPieces(std::string(3000, 'z'), 700, Ms(5)), S::Close()}});
  Open(server);
  EXPECT_EQ(client.ReadLine(), "line one");
  EXPECT_EQ(client.ReadLine(), "line two");
  std::string rest;
  client.ReadToStream(rest, -1, true);
  EXPECT_EQ(rest, std::string(3000, 'z'));
  EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
}

TEST_F(LoopbackConnection, PeerClosesWithBytesQueued) {
  S server({{S::Send("0123456789"), S::Close()}});
  Open(server);
  ASSERT_TRUE(server.WaitDone());
  std::string bytes;
  client.ReadToStream(bytes, 10, false);
  EXPECT_EQ(bytes, "0123456789");
  EXPECT_THROW(client.ReadExact(bytes, 1), EIdConnClosedGracefully);
  EXPECT_FALSE(client.IsConnected());
}

TEST_F(LoopbackConnection, ResetByThePeerIsASocketError) {
  S server({{S::ExpectLine(), S::Reset()}});
  Open(server);
  client.WriteLine("x");
  ASSERT_TRUE(server.WaitDone());
  const EIdSocketError e = test::FailureOf<EIdSocketError>([&] { client.ReadLine(); }, 0, "");
  EXPECT_EQ(e.SocketCode, 10054);
  EXPECT_EQ(e.Message, "Socket Error # 10054\r\nConnection reset by peer.");
}

TEST_F(LoopbackConnection, WritingToAClosedPeerRaisesAndNeverSignals) {
  S server({{S::Close()}});
  Open(server);
  ASSERT_TRUE(server.WaitDone());
  // A write may still be accepted locally; the closed peer answers it with a reset, and a write
  // after that fails. A SIGPIPE would end this test program here.
  const int socket = Socket();
  bool raised = false;
  for (int i = 0; i < 200 && !raised; ++i) {
    try {
      client.WriteText(std::string(1000, 'w'));
      test::WaitForSocket(socket, 0);  // the reset
    } catch (const EIdSocketError& e) {
      raised = true;
      EXPECT_TRUE(e.SocketCode == 10054 || e.SocketCode == 10058) << e.Message;
    } catch (const EIdConnClosedGracefully&) {
      raised = true;  // the close was noticed first
    }
  }
  EXPECT_TRUE(raised);
}

TEST_F(LoopbackConnection, ReadTimeoutEndsAWaitOnASilentPeer) {
  S server({{S::Stall(Ms(3000))}});
  Open(server);
  client.ReadTimeout = 100;
  EXPECT_EQ(MessageOf<EIdReadTimeout>([&] { client.ReadLine(); }), "Read Timeout");
  EXPECT_TRUE(client.IsConnected());  // a time-out alone does not close
}

TEST_F(LoopbackConnection, PollNoticesAnIdleClose) {
  S server({{S::Send("late\n"), S::Close()}});
  Open(server);
  ASSERT_TRUE(server.WaitDone());
  ASSERT_TRUE(test::WaitForSocket(Socket(), POLLRDHUP));  // the close has arrived
  // The poll absorbs the waiting bytes and then sees the close.
  for (int i = 0; i < 100 && client.IsConnected(); ++i) client.PollPeerClosed(false);
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(client.ReadLine(), "late");
}

TEST_F(LoopbackConnection, RefusedConnectLeavesTheClientUsable) {
  S server({{S::Send("ok\n"), S::AwaitClose()}});
  {
    test::LoopbackPort refusing(test::LoopbackPort::Kind::Refusing);
    client.Host = "127.0.0.1";
    client.Port = refusing.Port();
    EXPECT_EQ(MessageOf<EIdSocketError>([&] { client.ConnectToPeer(0); }),
              "Socket Error # 10061\r\nConnection refused.");
  }
  EXPECT_FALSE(client.IsConnected());
  Open(server);
  EXPECT_EQ(client.ReadLine(), "ok");
}

}  // namespace
