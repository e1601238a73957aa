// The fixture lyrics site as built, spoken to over raw loopback sockets: what the product
// suites stand on and would not notice when it went wrong. Pages are served by their raw bytes
// and nothing outside the folder is; the chunked framing, the page headers files and the
// request log are exact; the site ends on SIGTERM, after its idle time, and on a bad command
// line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Process.h"

namespace {

using namespace std::chrono_literals;

// Longest a single step (start, answer, exit) may take before the test gives up.
constexpr auto kDeadline = 10s;

const std::string kProgram = std::string(LIRENTA_BIN_DIR) + "/lirenta-fixture-site";

// A raw client connection with a read buffer; every wait has the deadline.
class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(port));
    EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  ~RawClient() { close(fd_); }

  void Send(std::string_view bytes) {
    EXPECT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }

  // One whole answer as raw bytes: the head, then a body by Content-Length, by chunks, or up
  // to the close. Empty when the connection ends first.
  std::string ReadAnswer() {
    std::size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
      if (!Fill()) return {};
    end += 4;
    const std::string head = buffer_.substr(0, end);
    if (head.find("Transfer-Encoding: chunked\r\n") != std::string::npos) {
      for (std::size_t size = 1; size != 0;) {
        std::size_t lineEnd;
        while ((lineEnd = buffer_.find("\r\n", end)) == std::string::npos)
          if (!Fill()) return {};
        size = std::stoul(buffer_.substr(end, lineEnd - end), nullptr, 16);
        end = lineEnd + 2 + size + 2;
        while (buffer_.size() < end)
          if (!Fill()) return {};
      }
    } else if (std::size_t at = head.find("Content-Length: "); at != std::string::npos) {
      end += std::stoul(head.substr(at + 16));
      while (buffer_.size() < end)
        if (!Fill()) return {};
    } else {
      while (Fill()) {
      }
      end = buffer_.size();
    }
    std::string answer = buffer_.substr(0, end);
    buffer_.erase(0, end);
    return answer;
  }

  // True when the server closes the connection (within the deadline) with nothing more sent.
  bool ClosedByPeer() { return buffer_.empty() && !Fill() && closed_; }

 private:
  // Reads more bytes into the buffer; false on close, error or deadline.
  bool Fill() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, int(std::chrono::milliseconds(kDeadline).count())) <= 0) return false;
    char buf[65536];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    closed_ = n == 0;
    if (n <= 0) return false;
    buffer_.append(buf, std::size_t(n));
    return true;
  }

  int fd_ = -1;
  bool closed_ = false;
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

std::string Chunked(const std::vector<std::string>& chunks) {
  std::string out =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (const auto& c : chunks) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx", c.size());
    out += std::string(size) + "\r\n" + c + "\r\n";
  }
  return out + "0\r\n\r\n";
}

const std::string kNotFound =
    "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 90\r\n\r\n"
    "<html><head><title>404 Not Found</title></head><body><h1>404 Not Found</h1></body></html>\n";

class FixtureSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(root_.File("trio-flor-e-cafe").c_str(), 0755);
    test::WriteFile(root_.File("trio-flor-e-cafe/cancao-do-mar.html"),
                    "<p>Compositor: Jo\xe3o</p>");
    test::WriteFile(root_.File("a b%20\xe7.html"), "raw name");
    test::WriteFile(root_.File("index.html"), "home");
  }
  // Starts the site on the folder with `extra` options; its port, 0 when it printed none.
  int Start(std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), {kProgram, "--root", root_.Path()});
    site_ = std::make_unique<test::ChildProcess>(extra);
    const int port = std::stoi(site_->FirstLine(kDeadline).value_or("0"));
    EXPECT_NE(port, 0) << "the site printed no port; stderr: " << site_->Stderr();
    return port;
  }
  test::TempDir root_;
  std::unique_ptr<test::ChildProcess> site_;
};

TEST_F(FixtureSiteTest, ServesPagesByTheirRawBytesAndNothingOutsideItsFolder) {
  test::WriteFile(root_.Path() + "/../fixture-outside.html", "secret");
  symlink((root_.Path() + "/../fixture-outside.html").c_str(), root_.File("link.html").c_str());
  RawClient client(Start());
  client.Send(Get("/trio-flor-e-cafe/cancao-do-mar.html"));
  EXPECT_EQ(client.ReadAnswer(), Ok("<p>Compositor: Jo\xe3o</p>"));
  client.Send(Get("/a b%20\xe7.html"));
  EXPECT_EQ(client.ReadAnswer(), Ok("raw name"));
  // "%20" is not decoded, so the page with a blank is not found through it; a ".." segment,
  // a link out of the folder and a folder are no pages. The connection survives each refusal.
  for (const char* target :
       {"/a%20b%20\xe7.html", "/missing.html", "/../fixture-outside.html",
        "/trio-flor-e-cafe/../../fixture-outside.html", "/link.html", "/trio-flor-e-cafe",
        "/trio-flor-e-cafe/", "relative.html", "//etc/passwd"}) {
    client.Send(Get(target));
    EXPECT_EQ(client.ReadAnswer(), kNotFound) << target;
  }
  unlink((root_.Path() + "/../fixture-outside.html").c_str());
  client.Send(Get("/index.html"));
  EXPECT_EQ(client.ReadAnswer(), Ok("home"));
}

TEST_F(FixtureSiteTest, ChunkedAnswers) {
  test::WriteFile(root_.File("long.html"), std::string(20, 'a') + std::string(5, 'b'));
  test::WriteFile(root_.File("empty.html"), "");
  {
    RawClient client(Start({"--chunked", "--chunk-size", "10"}));
    client.Send(Get("/long.html") + Get("/empty.html"));
    EXPECT_EQ(client.ReadAnswer(), Chunked({std::string(10, 'a'), std::string(10, 'a'), "bbbbb"}));
    EXPECT_EQ(client.ReadAnswer(), Chunked({}));
  }
  RawClient client(Start({"--chunked-every", "2"}));
  client.Send(Get("/index.html") + Get("/index.html") + Get("/index.html") + Get("/index.html"));
  EXPECT_EQ(client.ReadAnswer(), Ok("home"));
  EXPECT_EQ(client.ReadAnswer(), Chunked({"home"}));
  EXPECT_EQ(client.ReadAnswer(), Ok("home"));
  EXPECT_EQ(client.ReadAnswer(), Chunked({"home"}));
}

TEST_F(FixtureSiteTest, PageHeadersFileShapesTheAnswer) {
  test::WriteFile(root_.File("moved.html"), "<p>moved</p>");
  test::WriteFile(root_.File("moved.html.headers"),
                  "Status: 301 Moved Permanently\nLocation: http://127.0.0.1/index.html\r\n"
                  "Set-Cookie: a=1; path=/\n");
  test::WriteFile(root_.File("typed.html"), "x");
  test::WriteFile(root_.File("typed.html.headers"), "Content-Type: text/plain\n");
  test::WriteFile(root_.File("old.html"), "until close");
  test::WriteFile(root_.File("old.html.headers"), "Framing: close\n");
  const int port = Start({"--header", "Server: fixture"});
  RawClient client(port);
  client.Send(Get("/moved.html") + Get("/typed.html"));
  EXPECT_EQ(client.ReadAnswer(),
            "HTTP/1.1 301 Moved Permanently\r\nContent-Type: text/html\r\nServer: fixture\r\n"
            "Location: http://127.0.0.1/index.html\r\nSet-Cookie: a=1; path=/\r\n"
            "Content-Length: 12\r\n\r\n<p>moved</p>");
  EXPECT_EQ(client.ReadAnswer(),
            "HTTP/1.1 200 OK\r\nServer: fixture\r\nContent-Type: text/plain\r\nContent-Length: "
            "1\r\n\r\nx");

  RawClient old(port);
  old.Send(Get("/old.html"));
  EXPECT_EQ(
      old.ReadAnswer(),
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nServer: fixture\r\nConnection: close\r\n\r\n"
      "until close");
}

TEST_F(FixtureSiteTest, LogsEveryRequestHead) {
  const std::string log = root_.File("requests.log");
  RawClient client(Start({"--log", log}));
  client.Send(Get("/index.html") + Get("/missing \xe7.html", "Cookie: a=1\r\n"));
  client.ReadAnswer();
  client.ReadAnswer();
  EXPECT_EQ(test::ReadFile(log), Get("/index.html") + Get("/missing \xe7.html", "Cookie: a=1\r\n"));
}

TEST_F(FixtureSiteTest, EndsOnSigtermAndAfterTheIdleTime) {
  {
    RawClient client(Start());
    client.Send(Get("/index.html"));
    EXPECT_EQ(client.ReadAnswer(), Ok("home"));
    site_->Kill(SIGTERM);
    EXPECT_EQ(site_->Wait(kDeadline), 0);
  }
  // Left alone with a connection that sends nothing, the site ends by itself and closes it.
  RawClient idle(Start({"--idle-seconds", "1"}));
  idle.Send(Get("/index.html"));
  EXPECT_EQ(idle.ReadAnswer(), Ok("home"));
  EXPECT_EQ(site_->Wait(kDeadline), 0);
  EXPECT_TRUE(idle.ClosedByPeer());
}

TEST_F(FixtureSiteTest, RefusesABadCommandLine) {
  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{},
                                             {"--root"},
                                             {"--root", root_.Path(), "--port", "x"},
                                             {"--root", root_.Path(), "--bogus"},
                                             {"--root", root_.Path(), "--idle-seconds", "0"}}) {
    args.insert(args.begin(), kProgram);
    test::ChildProcess process(args);
    EXPECT_EQ(process.Wait(kDeadline), 2) << process.Stderr();
    EXPECT_EQ(process.Stdout(), "");
  }
  test::ChildProcess process(
      std::vector<std::string>{kProgram, "--root", root_.File("no-such-folder")});
  EXPECT_EQ(process.Wait(kDeadline), 1);
  EXPECT_NE(process.Stderr().find("not a folder"), std::string::npos);
}

}  // namespace
