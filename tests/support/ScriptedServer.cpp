#include "tests/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>

namespace test {

namespace {

using Clock = std::chrono::steady_clock;

// Waits are sliced so that a stop request is seen quickly.
constexpr int kSliceMs = 20;

int SliceUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  return left.count() < kSliceMs ? static_cast<int>(left.count()) : kSliceMs;
}

// Connections made to a listener with a backlog of 0: the first fills its queue, the others only
// make sure of it.
constexpr int kFillers = 3;

sockaddr_in Loopback(int32_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

}  // namespace

std::string Answer(const std::string& status, const std::string& body,
                   const std::string& extraHeaders) {
  return "HTTP/1.1 " + status + "\r\n" + extraHeaders +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string GetHead(const std::string& hostPort, const std::string& target,
                    const std::string& extraLines) {
  return "GET " + target + " HTTP/1.1\r\nHost: " + hostPort +
         "\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Lirenta)\r\n" +
         extraLines + "\r\n";
}

LoopbackPort::LoopbackPort(Kind kind) {
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      (kind != Kind::Refusing && ::listen(socket_, kind == Kind::Full ? 0 : 16) != 0) ||
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    Release();
    throw std::runtime_error("loopback port: cannot bind on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  if (kind != Kind::Full) return;
  for (int i = 0; i < kFillers; ++i) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers_.push_back(s);
  }
  // A connection waiting to be accepted makes the listener readable; with a backlog of 0 that
  // one fills the queue.
  if (!WaitForSocket(socket_, POLLIN)) {
    Release();
    throw std::runtime_error("loopback port: the accept queue did not fill");
  }
}

LoopbackPort::~LoopbackPort() {
  Release();
}

void LoopbackPort::Release() {
  for (int s : fillers_) ::close(s);
  fillers_.clear();
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  close(fd);
  return port;
}

bool PortAnswers(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

bool WaitForSocket(int socket, short events, std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  for (;;) {
    pollfd entry{socket, events, 0};
    const int r = ::poll(&entry, 1, SliceUntil(end));
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
    if (Clock::now() >= end) return false;
  }
}

ScriptedServer::Step ScriptedServer::Expect(std::size_t count) {
  return Step{Action::Expect, {}, count, Ms(0), {}};
}
ScriptedServer::Step ScriptedServer::ExpectLine() {
  return ExpectUntil("\n");
}
ScriptedServer::Step ScriptedServer::ExpectUntil(std::string marker) {
  return Step{Action::ExpectUntil, std::move(marker), 0, Ms(0), {}};
}
ScriptedServer::Step ScriptedServer::ExpectHead() {
  return ExpectUntil("\r\n\r\n");
}
ScriptedServer::Step ScriptedServer::Send(std::string bytes) {
  return Step{Action::Send, std::move(bytes), 0, Ms(0), {}};
}
ScriptedServer::Step ScriptedServer::SendPieces(std::string bytes, std::size_t pieceSize,
                                                Ms pause) {
  return Step{Action::SendPieces, std::move(bytes), pieceSize == 0 ? 1 : pieceSize, pause, {}};
}
ScriptedServer::Step ScriptedServer::HalfClose() {
  return Step{Action::HalfClose, {}, 0, Ms(0), {}};
}
ScriptedServer::Step ScriptedServer::Reset() {
  return Step{Action::Reset, {}, 0, Ms(0), {}};
}
ScriptedServer::Step ScriptedServer::Close() {
  return Step{Action::Close, {}, 0, Ms(0), {}};
}
ScriptedServer::Step ScriptedServer::Stall(Ms duration) {
  return Step{Action::Stall, {}, 0, duration, {}};
}
ScriptedServer::Step ScriptedServer::AwaitClose() {
  return Step{Action::AwaitClose, {}, 0, Ms(0), {}};
}

ScriptedServer::Step ScriptedServer::StartTls(const TlsFiles& files) {
  return Step{Action::StartTls, files.cert, 0, Ms(0), files.key};
}
ScriptedServer::Step ScriptedServer::RefusedTls(const TlsFiles& files) {
  return Step{Action::RefusedTls, files.cert, 0, Ms(0), files.key};
}

void ScriptedServer::ReleaseStalls() {
  released_ = true;
}

bool ScriptedServer::SawCloseAlert(std::size_t connection) const {
  std::lock_guard<std::mutex> lock(lock_);
  return connection < closeAlerts_.size() && closeAlerts_[connection];
}

ScriptedServer::ScriptedServer(std::vector<Script> scripts, Ms stepDeadline, Ms lifetime)
    : scripts_(std::move(scripts)), stepDeadline_(stepDeadline), end_(Clock::now() + lifetime) {
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_ < 0) throw std::runtime_error("scripted server: no socket");
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listen_, 16) != 0 ||
      ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(listen_);
    throw std::runtime_error("scripted server: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  Stop();
}

void ScriptedServer::Stop() {
  stop_ = true;
  if (acceptThread_.joinable()) acceptThread_.join();
  for (std::thread& t : connectionThreads_)
    if (t.joinable()) t.join();
  connectionThreads_.clear();
  if (listen_ >= 0) {
    ::close(listen_);
    listen_ = -1;
  }
}

int ScriptedServer::Accepted() const {
  std::lock_guard<std::mutex> lock(lock_);
  return accepted_;
}

std::string ScriptedServer::Received(std::size_t connection) const {
  std::lock_guard<std::mutex> lock(lock_);
  return connection < received_.size() ? received_[connection] : std::string();
}

bool ScriptedServer::WaitDone(Ms deadline) {
  return WaitFinished(scripts_.size(), deadline);
}

bool ScriptedServer::WaitAccepted(int count, Ms deadline) {
  std::unique_lock<std::mutex> lock(lock_);
  return changed_.wait_for(lock, deadline, [this, count] { return accepted_ >= count; });
}

bool ScriptedServer::WaitFinished(std::size_t count, Ms deadline) {
  std::unique_lock<std::mutex> lock(lock_);
  return changed_.wait_for(lock, deadline, [this, count] { return finished_ >= count; });
}

std::vector<std::string> ScriptedServer::Failures() const {
  std::lock_guard<std::mutex> lock(lock_);
  return failures_;
}

void ScriptedServer::Record(std::size_t index, const char* bytes, std::size_t count) {
  std::lock_guard<std::mutex> lock(lock_);
  received_[index].append(bytes, count);
}

void ScriptedServer::Fail(std::size_t index, const std::string& text) {
  std::lock_guard<std::mutex> lock(lock_);
  failures_.push_back("connection " + std::to_string(index) + ": " + text);
}

void ScriptedServer::AcceptLoop() {
  while (!stop_ && Clock::now() < end_) {
    pollfd entry{listen_, POLLIN, 0};
    if (::poll(&entry, 1, SliceUntil(end_)) <= 0) continue;
    int socket = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) continue;
    std::size_t index;
    {
      std::lock_guard<std::mutex> lock(lock_);
      index = static_cast<std::size_t>(accepted_++);
      received_.emplace_back();
      closeAlerts_.push_back(false);
    }
    changed_.notify_all();
    if (index < scripts_.size())
      connectionThreads_.emplace_back([this, index, socket] { RunConnection(index, socket); });
    else
      ::close(socket);
  }
}

void ScriptedServer::RunConnection(std::size_t index, int socket) {
  std::string pending;  // received and not yet matched by an expect step
  char block[65536];
  struct TlsFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
    void operator()(SSL* s) const { SSL_free(s); }
  };
  std::unique_ptr<SSL_CTX, TlsFree> context;
  std::unique_ptr<SSL, TlsFree> tls;  // the session, once a StartTls step ran
  bool closeAlert = false;

  // 1: bytes came; 0: the client closed (or reset); -1: the deadline passed or the server stops.
  auto readSome = [&](Clock::time_point deadline) -> int {
    for (;;) {
      if (stop_ || Clock::now() >= deadline || Clock::now() >= end_) return -1;
      if (!tls || SSL_pending(tls.get()) == 0) {
        pollfd entry{socket, POLLIN, 0};
        int r = ::poll(&entry, 1, SliceUntil(std::min(deadline, end_)));
        if (r <= 0) continue;
      }
      ssize_t n;
      if (tls) {
        n = SSL_read(tls.get(), block, sizeof block);
        if (n <= 0) {
          closeAlert = SSL_get_error(tls.get(), int(n)) == SSL_ERROR_ZERO_RETURN;
          ERR_clear_error();
          return 0;
        }
      } else {
        n = ::recv(socket, block, sizeof block, 0);
      }
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return 0;
      Record(index, block, static_cast<std::size_t>(n));
      pending.append(block, static_cast<std::size_t>(n));
      return 1;
    }
  };
  auto sendAll = [&](const char* bytes, std::size_t count) -> bool {
    while (count > 0) {
      ssize_t n = tls ? SSL_write(tls.get(), bytes, int(count))
                      : ::send(socket, bytes, count, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      bytes += n;
      count -= static_cast<std::size_t>(n);
    }
    return true;
  };
  auto sleepFor = [&](Ms pause) {
    auto until = Clock::now() + pause;
    while (!stop_ && Clock::now() < until)
      std::this_thread::sleep_for(Ms(SliceUntil(until) > 0 ? SliceUntil(until) : 1));
  };

  bool open = true;
  for (const Step& step : scripts_[index]) {
    if (!open || stop_) break;
    const auto deadline = Clock::now() + stepDeadline_;
    bool ok = true;
    switch (step.action) {
      case Action::Expect:
        while (ok && pending.size() < step.count) ok = readSome(deadline) > 0;
        if (ok)
          pending.erase(0, step.count);
        else
          Fail(index, "expected " + std::to_string(step.count) + " bytes, got " +
                          std::to_string(pending.size()));
        break;
      case Action::ExpectUntil: {
        std::size_t at;
        while (ok && (at = pending.find(step.bytes)) == std::string::npos)
          ok = readSome(deadline) > 0;
        if (ok)
          pending.erase(0, at + step.bytes.size());
        else
          Fail(index, "expected a marker of " + std::to_string(step.bytes.size()) + " bytes, got " +
                          std::to_string(pending.size()) + " bytes");
        break;
      }
      case Action::Send:
        ok = sendAll(step.bytes.data(), step.bytes.size());
        if (!ok) Fail(index, "send failed");
        break;
      case Action::SendPieces:
        for (std::size_t at = 0; ok && at < step.bytes.size(); at += step.count) {
          if (at > 0) sleepFor(step.pause);
          ok = sendAll(step.bytes.data() + at, std::min(step.count, step.bytes.size() - at));
        }
        if (!ok) Fail(index, "send failed");
        break;
      case Action::HalfClose:
        ::shutdown(socket, SHUT_WR);
        break;
      case Action::Reset: {
        linger option{1, 0};
        ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &option, sizeof option);
        ::close(socket);
        open = false;
        break;
      }
      case Action::Close:
        if (tls) SSL_shutdown(tls.get());
        ::close(socket);
        open = false;
        break;
      case Action::Stall: {
        // In slices, so that a release is seen; a client that closes ends it too.
        const auto until = Clock::now() + step.pause;
        while (!released_ && !stop_ && Clock::now() < until &&
               readSome(std::min(until, Clock::now() + Ms(kSliceMs))) != 0) {
        }
        break;
      }
      case Action::AwaitClose: {
        int r;
        while ((r = readSome(deadline)) > 0) {
        }
        if (r < 0) {
          ok = false;
          Fail(index, "the client did not close");
        }
        if (closeAlert) {
          std::lock_guard<std::mutex> lock(lock_);
          closeAlerts_[index] = true;
        }
        break;
      }
      case Action::StartTls:
      case Action::RefusedTls: {
        context.reset(SSL_CTX_new(TLS_server_method()));
        if (!context ||
            SSL_CTX_use_certificate_chain_file(context.get(), step.bytes.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(context.get(), step.key.c_str(), SSL_FILETYPE_PEM) != 1) {
          Fail(index, "cannot load " + step.bytes);
          ok = false;
          break;
        }
        // The handshake blocks; the step deadline bounds each of its reads.
        const auto ms = std::chrono::duration_cast<std::chrono::microseconds>(stepDeadline_);
        timeval limit{time_t(ms.count() / 1000000), suseconds_t(ms.count() % 1000000)};
        ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        tls.reset(SSL_new(context.get()));
        SSL_set_fd(tls.get(), socket);
        const bool accepted = SSL_accept(tls.get()) == 1;
        ERR_clear_error();
        if (step.action == Action::StartTls && !accepted) {
          Fail(index, "TLS handshake failed");
          ok = false;
        } else if (step.action == Action::RefusedTls) {
          if (accepted) Fail(index, "the client accepted the certificate");
          tls.reset();
          ::close(socket);
          open = false;
        }
        break;
      }
    }
    if (!ok) break;
  }
  tls.reset();
  if (open) ::close(socket);
  {
    std::lock_guard<std::mutex> lock(lock_);
    ++finished_;
  }
  changed_.notify_all();
}

}  // namespace test
