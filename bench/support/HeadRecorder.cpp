#include "bench/support/HeadRecorder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace bench {

namespace {

// How long the recorder waits for a client's request.
constexpr int kRecorderDeadlineMs = 10000;

void SendAll(int fd, const std::string& bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return;
    at += std::size_t(n);
  }
}

}  // namespace

struct HeadRecorder::State {
  int listenFd = -1;
  std::thread thread;
  std::string head;
};

HeadRecorder::HeadRecorder() : state_(std::make_unique<State>()) {
  state_->listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (state_->listenFd < 0 ||
      bind(state_->listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(state_->listenFd, 1) != 0 ||
      getsockname(state_->listenFd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (state_->listenFd >= 0) close(state_->listenFd);
    throw std::runtime_error("no listener for the request recorder");
  }
  port_ = ntohs(address.sin_port);
}

HeadRecorder::~HeadRecorder() {
  if (state_->thread.joinable()) state_->thread.join();
  close(state_->listenFd);
}

void HeadRecorder::Start() {
  state_->thread = std::thread([state = state_.get()] {
    pollfd p{state->listenFd, POLLIN, 0};
    if (poll(&p, 1, kRecorderDeadlineMs) <= 0) return;
    const int fd = accept(state->listenFd, nullptr, nullptr);
    if (fd < 0) return;
    std::string in;
    char chunk[4096];
    while (in.find("\r\n\r\n") == std::string::npos) {
      pollfd q{fd, POLLIN, 0};
      if (poll(&q, 1, kRecorderDeadlineMs) <= 0) break;
      const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      in.append(chunk, std::size_t(n));
    }
    const std::size_t end = in.find("\r\n\r\n");
    if (end != std::string::npos) {
      state->head = in.substr(0, end + 4);
      SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    }
    close(fd);
  });
}

std::string HeadRecorder::Head() {
  if (state_->thread.joinable()) state_->thread.join();
  if (state_->head.empty()) throw std::runtime_error("no request arrived at the recorder");
  return state_->head;
}

}  // namespace bench
