// The fixture lyrics site as built, spoken to over raw loopback sockets: what the product
// suites stand on and would not notice when it went wrong. Pages are served by their raw bytes
// and nothing outside the folder is; the chunked framing, the page headers files and the
// request log are exact; the faults (throttling, an outage, a delay, a trickle) are what a
// client meets; the site ends on SIGTERM, after its idle time, and on a bad command line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// A raw client connection; every wait has the deadline.
class RawClient {
 public:
  explicit RawClient(int port) {
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
  // The next bytes the site sends are `answer`.
  void Expect(const std::string& answer) {
    std::string in;
    char buf[65536];
    ssize_t n = 1;
    while (in.size() < answer.size() && Readable() &&
           (n = recv(fd_, buf, std::min(sizeof buf, answer.size() - in.size()), 0)) > 0)
      in.append(buf, std::size_t(n));
    EXPECT_EQ(in, answer);
  }
  // The site closes the connection with nothing more sent.
  bool ClosedByPeer() {
    char c;
    return Readable() && recv(fd_, &c, 1, 0) == 0;
  }
  // Something (a byte or the close) arrives within `wait`.
  bool Readable(std::chrono::milliseconds wait = kDeadline) {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, int(wait.count())) == 1;
  }

 private:
  int fd_ = socket(AF_INET, SOCK_STREAM, 0);
};

// The errno of a connection to the port, 0 when it is taken.
int ConnectError(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(uint16_t(port));
  const int error = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 0 : errno;
  close(fd);
  return error;
}

std::string Ok(std::string_view body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

std::string Get(std::string_view target, std::string_view extra = "") {
  return "GET " + std::string(target) +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/html, */*\r\n" + std::string(extra) + "\r\n";
}

// The site's answer with a status page: "429 Too Many Requests" and `extra` header lines.
std::string StatusAnswer(const std::string& status, const std::string& extra = "") {
  const std::string body = "<html><head><title>" + status + "</title></head><body><h1>" + status +
                           "</h1></body></html>\n";
  return "HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\n" + extra +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
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
  client.Expect(Ok("<p>Compositor: Jo\xe3o</p>"));
  client.Send(Get("/a b%20\xe7.html"));
  client.Expect(Ok("raw name"));
  // "%20" is not decoded, so the page with a blank is not found through it; a ".." segment,
  // a link out of the folder and a folder are no pages. The connection survives each refusal.
  for (const char* target :
       {"/a%20b%20\xe7.html", "/missing.html", "/../fixture-outside.html",
        "/trio-flor-e-cafe/../../fixture-outside.html", "/link.html", "/trio-flor-e-cafe",
        "/trio-flor-e-cafe/", "relative.html", "//etc/passwd"}) {
    SCOPED_TRACE(target);
    client.Send(Get(target));
    client.Expect(kNotFound);
  }
  unlink((root_.Path() + "/../fixture-outside.html").c_str());
  client.Send(Get("/index.html"));
  client.Expect(Ok("home"));
}

TEST_F(FixtureSiteTest, ChunkedEveryNthAnswer) {
  RawClient client(Start({"--chunked-every", "2"}));
  client.Send(Get("/index.html") + Get("/index.html") + Get("/index.html") + Get("/index.html"));
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
      "Transfer-Encoding: chunked\r\n\r\n4\r\nhome\r\n0\r\n\r\n";
  client.Expect(Ok("home") + chunked + Ok("home") + chunked);
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
  client.Expect(
      "HTTP/1.1 301 Moved Permanently\r\nContent-Type: text/html\r\nServer: fixture\r\n"
      "Location: http://127.0.0.1/index.html\r\nSet-Cookie: a=1; path=/\r\n"
      "Content-Length: 12\r\n\r\n<p>moved</p>");
  client.Expect(
      "HTTP/1.1 200 OK\r\nServer: fixture\r\nContent-Type: text/plain\r\nContent-Length: "
      "1\r\n\r\nx");

  RawClient old(port);
  old.Send(Get("/old.html"));
  old.Expect(
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nServer: fixture\r\nConnection: close\r\n\r\n"
      "until close");
  EXPECT_TRUE(old.ClosedByPeer());
}

TEST_F(FixtureSiteTest, LogsEveryRequestHead) {
  const std::string log = root_.File("requests.log");
  RawClient client(Start({"--log", log}));
  client.Send(Get("/index.html") + Get("/missing \xe7.html", "Cookie: a=1\r\n"));
  client.Expect(Ok("home") + kNotFound);
  EXPECT_EQ(test::ReadFile(log), Get("/index.html") + Get("/missing \xe7.html", "Cookie: a=1\r\n"));
}

TEST_F(FixtureSiteTest, ThrottlesNumberedRequestsWithOrWithoutRetryAfterOnTheSameConnection) {
  RawClient client(Start({"--throttle", "2:2:7", "--throttle", "5:1"}));
  // Requests 1 to 6; a missing page counts as a request like any other.
  client.Send(Get("/index.html") + Get("/index.html") + Get("/missing.html") +
              Get("/missing.html") + Get("/index.html") + Get("/index.html"));
  const std::string throttled = StatusAnswer("429 Too Many Requests", "Retry-After: 7\r\n");
  client.Expect(Ok("home") + throttled + throttled + kNotFound +
                StatusAnswer("429 Too Many Requests") + Ok("home"));
}

TEST_F(FixtureSiteTest, OutageClosesEveryConnectionAndRefusesNewOnesUntilItEnds) {
  const int port = Start({"--outage", "2:1000"});
  RawClient quiet(port);
  RawClient client(port);
  // The third request arrives before the outage and goes unanswered.
  client.Send(Get("/index.html") + Get("/index.html") + Get("/index.html"));
  client.Expect(Ok("home") + Ok("home"));
  EXPECT_TRUE(client.ClosedByPeer());
  EXPECT_TRUE(quiet.ClosedByPeer());
  const auto closed = std::chrono::steady_clock::now();
  EXPECT_EQ(ConnectError(port), ECONNREFUSED);
  while (ConnectError(port) == ECONNREFUSED &&
         std::chrono::steady_clock::now() - closed < kDeadline)
    usleep(20000);
  // The site closed before the client saw it, so less than the outage has passed here.
  EXPECT_GE(std::chrono::steady_clock::now() - closed, 500ms);
  RawClient back(port);
  back.Send(Get("/index.html"));
  back.Expect(Ok("home"));
}

TEST_F(FixtureSiteTest, DelayHoldsEveryAnswerWhileServingOtherConnections) {
  const int port = Start({"--delay-ms", "800"});
  RawClient first(port), second(port);
  const auto sent = std::chrono::steady_clock::now();
  first.Send(Get("/index.html") + Get("/missing.html"));
  second.Send(Get("/index.html"));
  EXPECT_FALSE(first.Readable(700ms));
  first.Expect(Ok("home") + kNotFound);
  second.Expect(Ok("home"));
  // Answered side by side: one after the other would take the delay three times.
  EXPECT_LT(std::chrono::steady_clock::now() - sent, 1600ms);
}

TEST_F(FixtureSiteTest, TrickleSendsItsAnswersAByteAtATimeAndTheNextAnswerAfterThem) {
  RawClient client(Start({"--trickle", "2:1:10"}));
  client.Send(Get("/index.html") + Get("/index.html") + Get("/index.html"));
  client.Expect(Ok("home"));
  // Request 2 comes a byte every 10 ms; request 3 waits for it.
  const auto started = std::chrono::steady_clock::now();
  client.Expect(Ok("home") + Ok("home"));
  EXPECT_GE(std::chrono::steady_clock::now() - started, Ok("home").size() / 2 * 10ms);
}

TEST_F(FixtureSiteTest, EndsOnSigtermAndAfterTheIdleTime) {
  {
    RawClient client(Start());
    client.Send(Get("/index.html"));
    client.Expect(Ok("home"));
    site_->Kill(SIGTERM);
    EXPECT_EQ(site_->Wait(kDeadline), 0);
  }
  // Left alone with a connection that sends nothing, the site ends by itself and closes it.
  RawClient idle(Start({"--idle-seconds", "1"}));
  idle.Send(Get("/index.html"));
  idle.Expect(Ok("home"));
  EXPECT_EQ(site_->Wait(kDeadline), 0);
  EXPECT_TRUE(idle.ClosedByPeer());
}

TEST_F(FixtureSiteTest, RefusesABadCommandLine) {
  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{},
                                             {"--root"},
                                             {"--root", root_.Path(), "--port", "x"},
                                             {"--root", root_.Path(), "--bogus"},
                                             {"--root", root_.Path(), "--idle-seconds", "0"},
                                             {"--root", root_.Path(), "--throttle", "0:5"},
                                             {"--root", root_.Path(), "--outage", "3"}}) {
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
