// SIGINT and SIGTERM during an update run, against both programs as built: the first signal
// tells the program to end, so the run still walks every row, commits and ends with status 0;
// a second one ends the program at once. The site keeps one answer back until the test has
// sent its signals, so they arrive while the run waits on the network, in the middle of it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/SongRows.h"
#include "tests/support/VirtualDisplay.h"
#include "tests/support/XWindows.h"

namespace {

using namespace std::chrono_literals;

constexpr int kSongs = 12;
// The request whose answer waits for the test: a quarter into the run.
constexpr int kHeldRequest = 3;
const std::string kComposer = "Autor da Casa";

// A lyrics site on 127.0.0.1 that answers every GET with a page naming kComposer, over
// kept-alive connections, and holds the answer to request number `held` (counting from 1)
// until Release().
class HeldSite {
 public:
  explicit HeldSite(int held) : held_(held) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listen_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listen_, 8) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      throw std::runtime_error("the held site cannot listen");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  // Shutting the sockets down wakes the serving thread wherever it blocks.
  ~HeldSite() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      if (connection_ >= 0) shutdown(connection_, SHUT_RDWR);
    }
    changed_.notify_all();
    shutdown(listen_, SHUT_RDWR);
    thread_.join();
    close(listen_);
  }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  bool WaitForHeldRequest(std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, deadline, [this] { return requests_ >= held_; });
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }
  int Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    for (int connection; (connection = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
      std::unique_lock<std::mutex> lock(mutex_);
      connection_ = connection;
      if (stop_) shutdown(connection, SHUT_RDWR);
      lock.unlock();
      std::string in;
      char buffer[4096];
      for (ssize_t n; (n = recv(connection, buffer, sizeof buffer, 0)) > 0;) {
        in.append(buffer, std::size_t(n));
        for (std::size_t end; (end = in.find("\r\n\r\n")) != std::string::npos;) {
          in.erase(0, end + 4);
          lock.lock();
          ++requests_;
          changed_.notify_all();
          if (requests_ == held_) changed_.wait(lock, [this] { return released_ || stop_; });
          lock.unlock();
          const std::string page = "<p>Compositor: " + kComposer + "</p>";
          const std::string answer =
              "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" +
              page;
          send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
      }
      lock.lock();
      connection_ = -1;
      lock.unlock();
      close(connection);
    }
  }

  int held_;
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int connection_ = -1;
  int requests_ = 0;
  bool released_ = false;
  bool stop_ = false;
};

// The database, the held site and the program's folder of one case.
struct Signalled : testing::Test {
  Signalled() { folder.Settings(db.Path()); }
  void ExpectEveryComposerStored() {
    EXPECT_EQ(site.Requests(), kSongs);
    test::Composers expected;
    for (int i = 1; i <= kSongs; ++i) expected[i] = kComposer;
    EXPECT_EQ(test::StoredComposers(db.Path()), expected);
  }
  test::FirebirdDatabase db{test::NumberedSongs(kSongs, "Banda")};
  HeldSite site{kHeldRequest};
  test::ProgramFolder folder;
};

struct ConsoleSignal : Signalled, testing::WithParamInterface<int> {};

TEST_P(ConsoleSignal, FirstSignalLetsTheRunFinishCommitAndEndWithStatusZero) {
  auto program = folder.Start(site.BaseUrl());
  ASSERT_TRUE(site.WaitForHeldRequest(30s)) << program->Stderr();
  ASSERT_EQ(kill(program->Pid(), GetParam()), 0);
  site.Release();

  auto status = program->Wait(60s);
  ASSERT_TRUE(status.has_value()) << program->Stderr();
  EXPECT_EQ(*status, 0) << program->Stdout() << program->Stderr();
  EXPECT_EQ(program->Stdout(), test::kCompletedLine);
  ExpectEveryComposerStored();
}

INSTANTIATE_TEST_SUITE_P(IntAndTerm, ConsoleSignal, testing::Values(SIGINT, SIGTERM),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

using ConsoleSignals = Signalled;

TEST_F(ConsoleSignals, SecondSignalEndsTheProgramAtOnce) {
  auto program = folder.Start(site.BaseUrl());
  ASSERT_TRUE(site.WaitForHeldRequest(30s)) << program->Stderr();
  // Two different signals, so that neither can merge into the other while pending; the
  // waiting thread takes the lower number first.
  ASSERT_EQ(kill(program->Pid(), SIGINT), 0);
  ASSERT_EQ(kill(program->Pid(), SIGTERM), 0);

  // The held answer never comes: only the second signal can end the program.
  auto status = program->Wait(30s);
  ASSERT_TRUE(status.has_value()) << "the second signal did not end the program";
  EXPECT_EQ(*status, 128 + SIGTERM);
  EXPECT_EQ(program->Stdout(), "");
  site.Release();
  for (const auto& [code, composer] : test::StoredComposers(db.Path()))
    EXPECT_EQ(composer, std::nullopt) << code;
}

using WindowSignals = Signalled;

TEST_F(WindowSignals, TermDuringARunActsAsACloseOfTheWindow) {
  test::VirtualDisplay display;
  ASSERT_TRUE(display.Ok()) << "Xvfb could not start";
  test::ProgramFolder lirenta("lirenta");
  lirenta.Settings(db.Path());
  auto program = lirenta.Start(site.BaseUrl(), {}, {{"DISPLAY", display.Name()}});
  test::WindowInfo window = test::WaitForWindow(display, "Lirenta", 418, 89, 15000ms);
  ASSERT_NE(window.id, 0u) << program->Stderr();
  ASSERT_TRUE(test::ClickAt(display, window.id, 148 + 122 / 2, 56 + 25 / 2));
  ASSERT_TRUE(site.WaitForHeldRequest(30s)) << program->Stderr();
  ASSERT_EQ(kill(program->Pid(), SIGTERM), 0);
  site.Release();

  // The run goes on to its last row and commits; its completion box closes by itself, so the
  // program ends without anyone pressing OK.
  auto status = program->Wait(60s);
  ASSERT_TRUE(status.has_value()) << "the window program did not end\n" << program->Stderr();
  EXPECT_EQ(*status, 0) << program->Stderr();
  ExpectEveryComposerStored();
}

}  // namespace
