#include "tools/FixtureSite.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "runtime/Text.h"

namespace fixture {

namespace {

// A request head longer than this is refused (431) and the connection closed.
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
// A request body longer than this is refused (413); the site only serves GET and HEAD.
constexpr long long kMaxBodyBytes = 1024 * 1024;
// Bytes read from a socket in one call.
constexpr std::size_t kReadChunk = 64 * 1024;
// Pending connections the kernel may hold before they are accepted.
constexpr int kListenBacklog = 128;

volatile sig_atomic_t gStop = 0;

void OnStopSignal(int) {
  gStop = 1;
}

bool ContainsToken(std::string_view value, std::string_view token) {
  // Comma-separated, case-insensitive ("keep-alive, Upgrade").
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = value.find(',', start);
    if (end == std::string_view::npos) end = value.size();
    std::string_view part = value.substr(start, end - start);
    while (!part.empty() && (part.front() == ' ' || part.front() == '\t')) part.remove_prefix(1);
    while (!part.empty() && (part.back() == ' ' || part.back() == '\t')) part.remove_suffix(1);
    if (rt::SameText(part, token)) return true;
    start = end + 1;
  }
  return false;
}

void SetNonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

std::string Hex(std::size_t n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%zx", n);
  return buf;
}

// One parsed request head.
struct RequestHead {
  std::string method, target, version;
  bool wantsClose = false;
  long long contentLength = 0;
  bool chunkedBody = false;
  bool valid = false;
};

RequestHead ParseHead(std::string_view head) {
  RequestHead r;
  std::size_t lineEnd = head.find('\n');
  std::string_view line = head.substr(0, lineEnd);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  // The target may hold blanks: the method ends at the first, the version starts after the last.
  std::size_t first = line.find(' '), last = line.rfind(' ');
  if (first == std::string_view::npos || first == last) return r;
  r.method = std::string(line.substr(0, first));
  r.target = std::string(line.substr(first + 1, last - first - 1));
  r.version = std::string(line.substr(last + 1));
  if (r.method.empty() || r.target.empty() || r.version.rfind("HTTP/", 0) != 0) return r;
  r.valid = true;
  bool keepAlive = false, close = false;
  std::size_t start = lineEnd == std::string_view::npos ? head.size() : lineEnd + 1;
  while (start < head.size()) {
    std::size_t end = head.find('\n', start);
    if (end == std::string_view::npos) end = head.size();
    std::string_view h = head.substr(start, end - start);
    start = end + 1;
    if (!h.empty() && h.back() == '\r') h.remove_suffix(1);
    std::size_t colon = h.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = h.substr(0, colon), value = h.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    if (rt::SameText(name, "Connection")) {
      close = close || ContainsToken(value, "close");
      keepAlive = keepAlive || ContainsToken(value, "keep-alive");
    } else if (rt::SameText(name, "Content-Length")) {
      long long n = 0;
      bool digits = !value.empty();
      for (char c : value) {
        if (c == ' ' || c == '\t' || c == '\r') break;
        if (c < '0' || c > '9' || n > kMaxBodyBytes) {
          digits = false;
          break;
        }
        n = n * 10 + (c - '0');
      }
      r.contentLength = digits ? n : kMaxBodyBytes + 1;
    } else if (rt::SameText(name, "Transfer-Encoding")) {
      r.chunkedBody = true;
    }
  }
  r.wantsClose = close || (r.version == "HTTP/1.0" && !keepAlive);
  return r;
}

}  // namespace

struct FixtureSite::Connection {
  // An answer held back until it is due.
  struct Pending {
    Clock::time_point due;
    Answer answer;
    bool head = false;
    bool close = false;
    int trickleMs = 0;
  };

  int fd = -1;
  std::string in;
  std::deque<Pending> pending;  // in the order of the requests, so also of their due times
  std::string out;
  std::size_t outPos = 0;
  bool closing = false;     // no more requests: close once `pending` and `out` are written
  bool peerClosed = false;  // the peer sent its last byte; it may still read
  SSL* ssl = nullptr;       // the session of a TLS site (owned)
  bool wantsWrite = false;  // the session waits for room to send (handshake or a write)
  std::string trickle;      // the rest of an answer sent a byte at a time
  std::size_t tricklePos = 0;
  int trickleMs = 0;
  Clock::time_point nextByte;
};

void FixtureSite::CloseConnection(Connection& c) {
  if (c.ssl != nullptr) {
    if (SSL_is_init_finished(c.ssl)) SSL_shutdown(c.ssl);
    SSL_free(c.ssl);
    c.ssl = nullptr;
    ERR_clear_error();
  }
  if (c.fd >= 0) close(c.fd);
  c.fd = -1;
}

FixtureSite::FixtureSite(SiteOptions options)
    : options_(std::move(options)), pages_(options_.root) {
  std::stable_sort(options_.outages.begin(), options_.outages.end(),
                   [](const Outage& a, const Outage& b) { return a.after < b.after; });
  Listen();
  if (!options_.certFile.empty() || !options_.keyFile.empty()) {
    tls_ = SSL_CTX_new(TLS_server_method());
    if (tls_ == nullptr ||
        SSL_CTX_use_certificate_chain_file(tls_, options_.certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(tls_, options_.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
      const unsigned long code = ERR_get_error();
      const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
      SSL_CTX_free(tls_);
      close(listenFd_);
      throw std::runtime_error("cannot use " + options_.certFile + " and " + options_.keyFile +
                               ": " + (reason != nullptr ? reason : "unknown error"));
    }
    SSL_CTX_set_min_proto_version(tls_, TLS1_2_VERSION);
    // A write may take part of an answer; the rest is offered again from a moved buffer.
    SSL_CTX_set_mode(tls_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  }
  if (!options_.logPath.empty()) {
    log_ = std::fopen(options_.logPath.c_str(), "ab");
    if (log_ == nullptr) {
      SSL_CTX_free(tls_);
      close(listenFd_);
      throw std::runtime_error("cannot open log " + options_.logPath);
    }
  }
}

void FixtureSite::Listen() {
  // The port is the one asked for the first time, and the same one again after an outage; a
  // client's connections to it from before may still linger in TIME_WAIT.
  const uint16_t port = port_ != 0 ? port_ : options_.port;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(fd, kListenBacklog) != 0) {
    std::string why = std::strerror(errno);
    close(fd);
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + why);
  }
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  SetNonBlocking(fd);
  listenFd_ = fd;
}

FixtureSite::~FixtureSite() {
  for (auto& c : connections_) CloseConnection(*c);
  if (listenFd_ >= 0) close(listenFd_);
  if (log_ != nullptr) std::fclose(log_);
  SSL_CTX_free(tls_);
}

void FixtureSite::Log(std::string_view head) {
  if (log_ == nullptr) return;
  std::fwrite(head.data(), 1, head.size(), log_);
  std::fflush(log_);
}

void FixtureSite::Accept() {
  for (;;) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN, or a connection that went away before it was taken
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    if (tls_ != nullptr) {
      c->ssl = SSL_new(tls_);
      if (c->ssl == nullptr || SSL_set_fd(c->ssl, fd) != 1) {
        CloseConnection(*c);
        continue;
      }
      SSL_set_accept_state(c->ssl);
    }
    connections_.push_back(std::move(c));
  }
}

bool FixtureSite::ReadFrom(Connection& c) {
  char buf[kReadChunk];
  if (c.ssl != nullptr) {
    // The first reads run the handshake; a client that refuses it ends the connection.
    for (;;) {
      c.wantsWrite = false;
      const int n = SSL_read(c.ssl, buf, int(sizeof buf));
      if (n > 0) {
        if (!c.closing) c.in.append(buf, std::size_t(n));
        continue;
      }
      const int error = SSL_get_error(c.ssl, n);
      ERR_clear_error();
      if (error == SSL_ERROR_WANT_READ) return true;
      if (error == SSL_ERROR_WANT_WRITE) {
        c.wantsWrite = true;
        return true;
      }
      if (error == SSL_ERROR_ZERO_RETURN) {
        c.peerClosed = true;
        return true;
      }
      return false;
    }
  }
  for (;;) {
    ssize_t n = recv(c.fd, buf, sizeof buf, 0);
    if (n > 0) {
      if (!c.closing) c.in.append(buf, std::size_t(n));
      continue;
    }
    if (n == 0) {
      c.peerClosed = true;
      return true;
    }
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK;
  }
}

bool FixtureSite::WriteTo(Connection& c) {
  while (c.ssl != nullptr && c.outPos < c.out.size()) {
    c.wantsWrite = false;
    const int n = SSL_write(c.ssl, c.out.data() + c.outPos, int(c.out.size() - c.outPos));
    if (n > 0) {
      c.outPos += std::size_t(n);
      continue;
    }
    const int error = SSL_get_error(c.ssl, n);
    ERR_clear_error();
    if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) {
      c.wantsWrite = error == SSL_ERROR_WANT_WRITE;
      return true;
    }
    return false;
  }
  while (c.outPos < c.out.size()) {
    ssize_t n = send(c.fd, c.out.data() + c.outPos, c.out.size() - c.outPos, MSG_NOSIGNAL);
    if (n > 0) {
      c.outPos += std::size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    return false;
  }
  c.out.clear();
  c.outPos = 0;
  return true;
}

int FixtureSite::TrickleMsOf(uint64_t request) const {
  for (const Trickle& t : options_.trickles)
    if (request >= t.from && request - t.from < t.count) return t.ms;
  return 0;
}

const Throttle* FixtureSite::ThrottleOf(uint64_t request) const {
  for (const Throttle& t : options_.throttles)
    if (request >= t.from && request - t.from < t.count) return &t;
  return nullptr;
}

void FixtureSite::Queue(Connection& c, Answer answer, bool head, bool close,
                        Clock::time_point now) {
  ++requests_;
  // A body that ends with the connection ends it: the requests after it go unanswered.
  if (answer.framing == Framing::Close) close = true;
  if (close) c.closing = true;
  c.pending.push_back({now + std::chrono::milliseconds(options_.delayMs), std::move(answer), head,
                       close, TrickleMsOf(requests_)});
}

bool FixtureSite::OutageDue() const {
  return nextOutage_ < options_.outages.size() && answers_ >= options_.outages[nextOutage_].after;
}

void FixtureSite::ReleaseDue(Connection& c, Clock::time_point now) {
  while (c.trickle.empty() && !c.pending.empty() && c.pending.front().due <= now && !OutageDue()) {
    const Connection::Pending& p = c.pending.front();
    if (p.trickleMs > 0) {
      AppendAnswer(c, c.trickle, p.answer, p.head, p.close);
      c.tricklePos = 0;
      c.trickleMs = p.trickleMs;
      c.nextByte = now;
    } else {
      AppendAnswer(c, c.out, p.answer, p.head, p.close);
    }
    c.pending.pop_front();
  }
  TrickleDue(c, now);
}

void FixtureSite::TrickleDue(Connection& c, Clock::time_point now) {
  if (c.trickle.empty() || now < c.nextByte) return;
  c.out += c.trickle[c.tricklePos++];
  c.nextByte = now + std::chrono::milliseconds(c.trickleMs);
  if (c.tricklePos == c.trickle.size()) c.trickle.clear();
}

void FixtureSite::StartOutage(Clock::time_point now) {
  // The listening socket goes first: a client that sees its connection closed is refused at
  // once when it connects again.
  close(listenFd_);
  listenFd_ = -1;
  for (auto& c : connections_) CloseConnection(*c);
  connections_.clear();
  downUntil_ = now + std::chrono::milliseconds(options_.outages[nextOutage_].ms);
  ++nextOutage_;
}

void FixtureSite::AppendAnswer(Connection& c, std::string& out, const Answer& answer, bool head,
                               bool close) {
  ++answers_;
  Framing framing = Framing::Length;
  if (options_.chunked ||
      (options_.chunkedEvery > 0 && answers_ % uint64_t(options_.chunkedEvery) == 0))
    framing = Framing::Chunked;
  if (answer.framing) framing = *answer.framing;
  if (framing == Framing::Close) close = true;

  out += "HTTP/1.1 ";
  out += answer.status;
  out += "\r\n";
  // A Content-Type of the page's own, or of every answer, replaces the default.
  bool hasType = false;
  for (const auto* headers : std::initializer_list<const std::vector<std::string>*>{
           &answer.headers, &options_.extraHeaders})
    for (const auto& h : *headers)
      hasType = hasType || rt::SameText(h.substr(0, h.find(':')), "Content-Type");
  if (!hasType) out += "Content-Type: text/html\r\n";
  for (const auto& h : options_.extraHeaders) out += h + "\r\n";
  for (const auto& h : answer.headers) out += h + "\r\n";
  if (framing == Framing::Length)
    out += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
  else if (framing == Framing::Chunked)
    out += "Transfer-Encoding: chunked\r\n";
  if (close) out += "Connection: close\r\n";
  out += "\r\n";
  if (!head) {
    if (framing == Framing::Chunked) {
      const std::size_t size = options_.chunkSize == 0 ? 1 : options_.chunkSize;
      for (std::size_t at = 0; at < answer.body.size(); at += size) {
        std::size_t n = std::min(size, answer.body.size() - at);
        out += Hex(n) + "\r\n";
        out.append(answer.body, at, n);
        out += "\r\n";
      }
      out += "0\r\n\r\n";
    } else {
      out += answer.body;
    }
  }
  if (close) c.closing = true;
}

void FixtureSite::Serve(Connection& c, Clock::time_point now) {
  std::size_t used = 0;
  while (!c.closing) {
    std::string_view rest = std::string_view(c.in).substr(used);
    std::size_t crlf = rest.find("\r\n\r\n"), lf = rest.find("\n\n");
    std::size_t headEnd = std::string_view::npos;
    if (crlf != std::string_view::npos) headEnd = crlf + 4;
    if (lf != std::string_view::npos && (headEnd == std::string_view::npos || lf + 2 < headEnd))
      headEnd = lf + 2;
    if (headEnd == std::string_view::npos) {
      if (rest.size() > kMaxHeadBytes)
        Queue(c, SitePages::StatusPage("431 Request Header Fields Too Large"), false, true, now);
      break;
    }
    if (headEnd > kMaxHeadBytes) {
      Queue(c, SitePages::StatusPage("431 Request Header Fields Too Large"), false, true, now);
      break;
    }
    std::string_view head = rest.substr(0, headEnd);
    RequestHead request = ParseHead(head);
    if (!request.valid) {
      Log(head);
      Queue(c, SitePages::StatusPage("400 Bad Request"), false, true, now);
      break;
    }
    if (request.chunkedBody || request.contentLength > kMaxBodyBytes) {
      Log(head);
      Queue(c, SitePages::StatusPage("413 Content Too Large"), false, true, now);
      break;
    }
    if (rest.size() < headEnd + std::size_t(request.contentLength)) break;  // body still coming
    Log(head);
    used += headEnd + std::size_t(request.contentLength);
    const bool close = request.wantsClose || options_.closeEach;
    const bool headOnly = request.method == "HEAD";
    Answer answer;
    // Queue numbers the request: it is the next one.
    if (const Throttle* throttle = ThrottleOf(requests_ + 1)) {
      answer = SitePages::StatusPage("429 Too Many Requests");
      if (throttle->retryAfter)
        answer.headers.push_back("Retry-After: " + std::to_string(*throttle->retryAfter));
    } else if (request.method == "GET" || headOnly) {
      answer = pages_.AnswerFor(request.target);
    } else {
      answer = SitePages::StatusPage("405 Method Not Allowed");
      answer.headers.push_back("Allow: GET, HEAD");
    }
    Queue(c, std::move(answer), headOnly, close, now);
  }
  c.in.erase(0, used);
  if (c.closing) c.in.clear();
}

int FixtureSite::Run() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // The stop signals are only let through while waiting in ppoll, so none is missed between
  // checking the flag and starting to wait.
  sigset_t block, waitMask;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  sigaddset(&block, SIGINT);
  sigprocmask(SIG_BLOCK, &block, &waitMask);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGINT);

  const auto idle = std::chrono::seconds(options_.idleSeconds);
  auto lastActivity = Clock::now();
  std::vector<pollfd> fds;
  while (!gStop) {
    auto now = Clock::now();
    if (downUntil_ && now >= *downUntil_) {
      Listen();
      downUntil_.reset();
      lastActivity = now;  // the outage was no idle time
    }
    // An outage waits until the answers that went out before it are written whole.
    if (!downUntil_ && OutageDue() &&
        std::all_of(connections_.begin(), connections_.end(),
                    [](const auto& c) { return c->out.empty(); })) {
      StartOutage(now);
      continue;
    }
    Clock::time_point wake = downUntil_ ? *downUntil_ : lastActivity + idle;
    if (!downUntil_ && wake <= now) break;
    if (!OutageDue())
      for (const auto& c : connections_) {
        if (!c->pending.empty()) wake = std::min(wake, c->pending.front().due);
        if (!c->trickle.empty()) wake = std::min(wake, c->nextByte);
      }
    const auto waitMs =
        std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(wake - now).count());
    timespec timeout{time_t(waitMs / 1000), long(waitMs % 1000) * 1000000L};

    fds.clear();
    fds.push_back({listenFd_, POLLIN, 0});  // -1 during an outage: poll passes it over
    for (auto& c : connections_) {
      short events = c->peerClosed ? 0 : POLLIN;
      if (c->outPos < c->out.size() || c->wantsWrite) events |= POLLOUT;
      fds.push_back({c->fd, events, 0});
    }
    int ready = ppoll(fds.data(), fds.size(), &timeout, &waitMask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    }
    now = Clock::now();
    if (ready > 0) lastActivity = now;

    // Connections accepted now are polled from the next round on.
    const std::size_t polled = connections_.size();
    if (fds[0].revents & POLLIN) Accept();
    for (std::size_t i = 0; i < polled; ++i) {
      Connection& c = *connections_[i];
      const short revents = fds[i + 1].revents;
      bool alive = true;
      if ((revents & (POLLIN | POLLHUP | POLLERR)) || (c.wantsWrite && (revents & POLLOUT))) {
        alive = ReadFrom(c);
        if (alive) Serve(c, now);
        // Requests that are complete are still answered after the peer stopped sending.
        if (c.peerClosed) c.closing = true;
      }
      if (alive) ReleaseDue(c, now);
      // Write at once what was answered; a full socket waits for POLLOUT.
      if (alive && c.outPos < c.out.size()) alive = WriteTo(c);
      if (alive && c.closing && c.pending.empty() && c.trickle.empty() && c.out.empty())
        alive = false;
      if (!alive) CloseConnection(c);
    }
    std::erase_if(connections_, [](const auto& c) { return c->fd < 0; });
  }
  return 0;
}

}  // namespace fixture
