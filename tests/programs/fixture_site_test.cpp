// The fixture lyrics site as built: started as a program, spoken to over raw loopback sockets.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Process.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Longest a single step (start, answer, exit) may take before the test gives up.
constexpr auto kDeadline = 10s;

const std::string kProgram = std::string(LIRENTA_BIN_DIR) + "/lirenta-fixture-site";

// A running site on its own folder; killed when the test ends.
class Site {
 public:
  explicit Site(const test::TempDir& root, std::vector<std::string> extra = {}) {
    test::ChildProcess::Options options;
    options.args = {kProgram, "--root", root.Path()};
    for (auto& a : extra) options.args.push_back(a);
    process_ = std::make_unique<test::ChildProcess>(options);
    const auto until = Clock::now() + kDeadline;
    while (Clock::now() < until) {
      std::string out = process_->Stdout();
      std::size_t nl = out.find('\n');
      if (nl != std::string::npos) {
        port = uint16_t(std::stoi(out.substr(0, nl)));
        return;
      }
      if (!process_->Running()) break;
      std::this_thread::sleep_for(5ms);
    }
    ADD_FAILURE() << "the site printed no port; stderr: " << process_->Stderr();
  }

  test::ChildProcess& Process() { return *process_; }
  uint16_t port = 0;

 private:
  std::unique_ptr<test::ChildProcess> process_;
};

// A raw client connection with a read buffer; every wait has the deadline.
class RawClient {
 public:
  explicit RawClient(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~RawClient() { close(fd_); }

  bool Connected() const { return connected_; }

  void Send(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      ASSERT_GT(n, 0);
      bytes.remove_prefix(std::size_t(n));
    }
  }

  // Reads more bytes into the buffer; false on close, error or deadline.
  bool Fill() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, int(std::chrono::milliseconds(kDeadline).count())) <= 0) return false;
    char buf[65536];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return false;
    buffer_.append(buf, std::size_t(n));
    return true;
  }

  // One whole answer as raw bytes: the head, then a body by Content-Length, by chunks, or (for
  // HEAD answers, 'noBody') none. Empty when the connection ends first.
  std::string ReadAnswer(bool noBody = false) {
    std::size_t headEnd;
    while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos)
      if (!Fill()) return {};
    headEnd += 4;
    const std::string head = buffer_.substr(0, headEnd);
    std::size_t total = headEnd;
    if (noBody) {
    } else if (head.find("Transfer-Encoding: chunked\r\n") != std::string::npos) {
      for (;;) {
        std::size_t lineEnd;
        while ((lineEnd = buffer_.find("\r\n", total)) == std::string::npos)
          if (!Fill()) return {};
        const std::size_t size = std::stoul(buffer_.substr(total, lineEnd - total), nullptr, 16);
        const std::size_t need = lineEnd + 2 + size + 2;
        while (buffer_.size() < need)
          if (!Fill()) return {};
        total = need;
        if (size == 0) break;
      }
    } else {
      std::size_t at = head.find("Content-Length: ");
      if (at == std::string::npos) {
        while (Fill()) {
        }
        total = buffer_.size();
      } else {
        total += std::stoul(head.substr(at + 16));
        while (buffer_.size() < total)
          if (!Fill()) return {};
      }
    }
    std::string answer = buffer_.substr(0, total);
    buffer_.erase(0, total);
    return answer;
  }

  // True when the server closes the connection (within the deadline) with nothing more sent.
  bool ClosedByPeer() {
    if (!buffer_.empty()) return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, int(std::chrono::milliseconds(kDeadline).count())) <= 0) return false;
    char c;
    return recv(fd_, &c, 1, 0) == 0;
  }

  // True when nothing arrives and the connection stays open for `wait`.
  bool StaysOpen(std::chrono::milliseconds wait) {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, int(wait.count())) == 0;
  }

  void ShutdownWrite() { shutdown(fd_, SHUT_WR); }

 private:
  int fd_ = -1;
  bool connected_ = false;
  std::string buffer_;
};

std::string Ok(std::string_view body, std::string_view extra = "") {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n" + std::string(extra) +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

std::string Get(std::string_view target, std::string_view extra = "") {
  return "GET " + std::string(target) +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/html, */*\r\n" + std::string(extra) + "\r\n";
}

const std::string kNotFound =
    "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 90\r\n\r\n"
    "<html><head><title>404 Not Found</title></head><body><h1>404 Not Found</h1></body></html>\n";

class FixtureSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(root.File("trio-flor-e-cafe").c_str(), 0755);
    test::WriteFile(root.File("trio-flor-e-cafe/cancao-do-mar.html"), "<p>Compositor: Jo\xe3o</p>");
    test::WriteFile(root.File("a b%20\xe7.html"), "raw name");
    test::WriteFile(root.File("index.html"), "home");
  }
  test::TempDir root;
};

// --- answers ---------------------------------------------------------------------------------

TEST_F(FixtureSiteTest, ServesPagesByTheirRawBytesWithContentLength) {
  Site site(root);
  RawClient client(site.port);
  ASSERT_TRUE(client.Connected());
  client.Send(Get("/trio-flor-e-cafe/cancao-do-mar.html"));
  EXPECT_EQ(client.ReadAnswer(), Ok("<p>Compositor: Jo\xe3o</p>"));
  client.Send(Get("/a b%20\xe7.html"));
  EXPECT_EQ(client.ReadAnswer(), Ok("raw name"));
  // "%20" is not decoded, so the page with a blank is not found through it.
  client.Send(Get("/a%20b%20\xe7.html"));
  EXPECT_EQ(client.ReadAnswer(), kNotFound);
  client.Send(Get("/"));
  EXPECT_EQ(client.ReadAnswer(), Ok("home"));
  client.Send(Get("/index.html?x=1"));
  EXPECT_EQ(client.ReadAnswer(), Ok("home"));
  client.Send(Get("http://127.0.0.1/index.html"));
  EXPECT_EQ(client.ReadAnswer(), Ok("home"));
  // All of it over the one connection.
  EXPECT_TRUE(client.StaysOpen(50ms));
}

TEST_F(FixtureSiteTest, MissingPagesAndEscapesAre404) {
  test::WriteFile(root.Path() + "/../fixture-outside.html", "secret");
  symlink((root.Path() + "/../fixture-outside.html").c_str(), root.File("link.html").c_str());
  Site site(root);
  RawClient client(site.port);
  for (const char* target :
       {"/missing.html", "/../fixture-outside.html", "/trio-flor-e-cafe/../../fixture-outside.html",
        "/link.html", "/trio-flor-e-cafe", "/trio-flor-e-cafe/", "relative.html", "//etc/passwd"}) {
    client.Send(Get(target));
    EXPECT_EQ(client.ReadAnswer(), kNotFound) << target;
  }
  unlink((root.Path() + "/../fixture-outside.html").c_str());
  // The connection survives every refusal.
  client.Send(Get("/index.html"));
  EXPECT_EQ(client.ReadAnswer(), Ok("home"));
}

TEST_F(FixtureSiteTest, HeadAnswersCarryNoBody) {
  Site site(root);
  RawClient client(site.port);
  client.Send("HEAD /index.html HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.ReadAnswer(true),
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 4\r\n\r\n");
  client.Send("POST /index.html HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc" + Get("/index.html"));
  std::string refused = client.ReadAnswer();
  EXPECT_EQ(refused.substr(0, 33), "HTTP/1.1 405 Method Not Allowed\r\n");
  EXPECT_NE(refused.find("Allow: GET, HEAD\r\n"), std::string::npos);
  EXPECT_EQ(client.ReadAnswer(), Ok("home"));
}

// --- connections -----------------------------------------------------------------------------

TEST_F(FixtureSiteTest, PipelinedAndByteByByteRequests) {
  Site site(root);
  RawClient client(site.port);
  client.Send(Get("/index.html") + Get("/missing") + Get("/a b%20\xe7.html"));
  EXPECT_EQ(client.ReadAnswer(), Ok("home"));
  EXPECT_EQ(client.ReadAnswer(), kNotFound);
  EXPECT_EQ(client.ReadAnswer(), Ok("raw name"));
  for (char c : Get("/index.html")) {
    client.Send(std::string(1, c));
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(client.ReadAnswer(), Ok("home"));
}

TEST_F(FixtureSiteTest, ServesSeveralConnectionsAtOnce) {
  Site site(root);
  RawClient first(site.port), second(site.port);
  first.Send("GET /index.html HTTP/1.1\r\n");  // half a request holds nothing up
  second.Send(Get("/index.html"));
  EXPECT_EQ(second.ReadAnswer(), Ok("home"));
  first.Send("\r\n");
  EXPECT_EQ(first.ReadAnswer(), Ok("home"));
}

TEST_F(FixtureSiteTest, ClosesWhenTheRequestOrTheOptionsSaySo) {
  {
    Site site(root);
    RawClient client(site.port);
    client.Send(Get("/index.html", "Connection: close\r\n") + Get("/index.html"));
    EXPECT_EQ(client.ReadAnswer(),
              "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 4\r\n"
              "Connection: close\r\n\r\nhome");
    EXPECT_TRUE(client.ClosedByPeer());

    RawClient old(site.port);
    old.Send("GET /index.html HTTP/1.0\r\n\r\n");
    std::string answer = old.ReadAnswer();
    EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos);
    EXPECT_TRUE(old.ClosedByPeer());

    RawClient kept(site.port);
    kept.Send("GET /index.html HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_EQ(kept.ReadAnswer(), Ok("home"));
    EXPECT_TRUE(kept.StaysOpen(50ms));

    // A client that stops sending still gets its answer.
    RawClient halfClosed(site.port);
    halfClosed.Send(Get("/index.html"));
    halfClosed.ShutdownWrite();
    EXPECT_EQ(halfClosed.ReadAnswer(), Ok("home"));
    EXPECT_TRUE(halfClosed.ClosedByPeer());
  }
  {
    Site site(root, {"--close"});
    RawClient client(site.port);
    client.Send(Get("/index.html"));
    std::string answer = client.ReadAnswer();
    EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos);
    EXPECT_TRUE(client.ClosedByPeer());
  }
}

TEST_F(FixtureSiteTest, RefusesBrokenAndOversizedHeads) {
  Site site(root);
  RawClient broken(site.port);
  broken.Send("NONSENSE\r\n\r\n");
  EXPECT_EQ(broken.ReadAnswer().substr(0, 26), "HTTP/1.1 400 Bad Request\r\n");
  EXPECT_TRUE(broken.ClosedByPeer());

  RawClient huge(site.port);
  huge.Send("GET /index.html HTTP/1.1\r\nX: " + std::string(70000, 'x'));
  EXPECT_EQ(huge.ReadAnswer().substr(0, 46), "HTTP/1.1 431 Request Header Fields Too Large\r\n");
  EXPECT_TRUE(huge.ClosedByPeer());
}

// --- framing and per-page answers ---------------------------------------------------------

std::string Chunked(std::string_view head, const std::vector<std::string>& chunks) {
  std::string out(head);
  for (const auto& c : chunks) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx", c.size());
    out += std::string(size) + "\r\n" + c + "\r\n";
  }
  return out + "0\r\n\r\n";
}

TEST_F(FixtureSiteTest, ChunkedAnswers) {
  test::WriteFile(root.File("long.html"), std::string(20, 'a') + std::string(5, 'b'));
  test::WriteFile(root.File("empty.html"), "");
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n";
  {
    Site site(root, {"--chunked", "--chunk-size", "10"});
    RawClient client(site.port);
    client.Send(Get("/long.html") + Get("/empty.html"));
    EXPECT_EQ(client.ReadAnswer(),
              Chunked(head, {std::string(10, 'a'), std::string(10, 'a'), "bbbbb"}));
    EXPECT_EQ(client.ReadAnswer(), Chunked(head, {}));
  }
  {
    Site site(root, {"--chunked-every", "2"});
    RawClient client(site.port);
    client.Send(Get("/index.html") + Get("/index.html") + Get("/index.html") + Get("/index.html"));
    EXPECT_EQ(client.ReadAnswer(), Ok("home"));
    EXPECT_EQ(client.ReadAnswer(), Chunked(head, {"home"}));
    EXPECT_EQ(client.ReadAnswer(), Ok("home"));
    EXPECT_EQ(client.ReadAnswer(), Chunked(head, {"home"}));
  }
}

TEST_F(FixtureSiteTest, PageHeadersFileShapesTheAnswer) {
  test::WriteFile(root.File("moved.html"), "<p>moved</p>");
  test::WriteFile(root.File("moved.html.headers"),
                  "Status: 301 Moved Permanently\nLocation: http://127.0.0.1/index.html\r\n"
                  "Set-Cookie: a=1; path=/\n");
  test::WriteFile(root.File("typed.html"), "x");
  test::WriteFile(root.File("typed.html.headers"), "Content-Type: text/plain\n");
  test::WriteFile(root.File("old.html"), "until close");
  test::WriteFile(root.File("old.html.headers"), "Framing: close\n");
  Site site(root, {"--header", "Server: fixture"});
  RawClient client(site.port);
  client.Send(Get("/moved.html") + Get("/typed.html"));
  EXPECT_EQ(client.ReadAnswer(),
            "HTTP/1.1 301 Moved Permanently\r\nContent-Type: text/html\r\nServer: fixture\r\n"
            "Location: http://127.0.0.1/index.html\r\nSet-Cookie: a=1; path=/\r\n"
            "Content-Length: 12\r\n\r\n<p>moved</p>");
  EXPECT_EQ(client.ReadAnswer(),
            "HTTP/1.1 200 OK\r\nServer: fixture\r\nContent-Type: text/plain\r\nContent-Length: "
            "1\r\n\r\nx");

  RawClient old(site.port);
  old.Send(Get("/old.html"));
  EXPECT_EQ(
      old.ReadAnswer(),
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nServer: fixture\r\nConnection: close\r\n\r\n"
      "until close");
}

TEST_F(FixtureSiteTest, LogsEveryRequestHead) {
  const std::string log = root.File("requests.log");
  Site site(root, {"--log", log});
  RawClient client(site.port);
  client.Send(Get("/index.html") + Get("/missing \xe7.html", "Cookie: a=1\r\n"));
  client.ReadAnswer();
  client.ReadAnswer();
  EXPECT_EQ(test::ReadFile(log), Get("/index.html") + Get("/missing \xe7.html", "Cookie: a=1\r\n"));
}

// --- life ------------------------------------------------------------------------------------

TEST_F(FixtureSiteTest, EndsOnSigtermAndAfterTheIdleTime) {
  {
    Site site(root);
    RawClient client(site.port);
    client.Send(Get("/index.html"));
    EXPECT_EQ(client.ReadAnswer(), Ok("home"));
    site.Process().Kill(SIGTERM);
    EXPECT_EQ(site.Process().Wait(kDeadline), 0);
  }
  {
    Site site(root, {"--idle-seconds", "1"});
    const auto start = Clock::now();
    EXPECT_EQ(site.Process().Wait(kDeadline), 0);
    EXPECT_GE(Clock::now() - start, 900ms);
  }
}

TEST_F(FixtureSiteTest, RefusesABadCommandLine) {
  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{},
                                             {"--root"},
                                             {"--root", root.Path(), "--port", "x"},
                                             {"--root", root.Path(), "--bogus"},
                                             {"--root", root.Path(), "--idle-seconds", "0"}}) {
    test::ChildProcess::Options options;
    options.args = {kProgram};
    for (auto& a : args) options.args.push_back(a);
    test::ChildProcess process(options);
    EXPECT_EQ(process.Wait(kDeadline), 2) << process.Stderr();
    EXPECT_EQ(process.Stdout(), "");
  }
  test::ChildProcess::Options missing;
  missing.args = {kProgram, "--root", root.File("no-such-folder")};
  test::ChildProcess process(missing);
  EXPECT_EQ(process.Wait(kDeadline), 1);
  EXPECT_NE(process.Stderr().find("not a folder"), std::string::npos);
}

}  // namespace
