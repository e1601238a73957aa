#include "bench/support/RawHttpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "runtime/Text.h"

namespace bench {

namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

void SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("send failed");
    bytes.remove_prefix(std::size_t(n));
  }
}

}  // namespace

RawHttpClient::RawHttpClient(uint16_t port) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("socket failed");
  const sockaddr_in address = Loopback(port);
  if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd_);
    throw std::runtime_error("connect failed");
  }
}

RawHttpClient::~RawHttpClient() {
  if (fd_ >= 0) close(fd_);
}

void RawHttpClient::Fill() {
  if (at_ > 0) {
    in_.erase(0, at_);
    at_ = 0;
  }
  ssize_t n;
  do {
    n = recv(fd_, buffer_.data(), buffer_.size(), 0);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) throw std::runtime_error("the server closed the connection");
  in_.append(buffer_.data(), std::size_t(n));
}

int RawHttpClient::Exchange(std::string_view head, std::string& body) {
  SendAll(fd_, head);
  std::size_t end;
  while ((end = in_.find("\r\n\r\n", at_)) == std::string::npos) Fill();
  const std::string_view answer(in_.data() + at_, end - at_);
  // "HTTP/1.1 200 OK": the code follows the first blank.
  const std::size_t blank = answer.find(' ');
  if (blank == std::string_view::npos) throw std::runtime_error("no status line");
  const int status = std::atoi(std::string(answer.substr(blank + 1, 3)).c_str());
  long long length = -1;
  std::size_t line = answer.find("\r\n");
  while (line != std::string_view::npos && line < answer.size()) {
    const std::size_t next = answer.find("\r\n", line + 2);
    const std::string_view header =
        answer.substr(line + 2, (next == std::string_view::npos ? answer.size() : next) - line - 2);
    const std::size_t colon = header.find(':');
    if (colon != std::string_view::npos &&
        rt::SameText(std::string(header.substr(0, colon)), "Content-Length"))
      length = std::atoll(std::string(header.substr(colon + 1)).c_str());
    line = next;
  }
  if (length < 0) throw std::runtime_error("an answer without Content-Length");
  at_ = end + 4;
  while (in_.size() - at_ < std::size_t(length)) Fill();
  body.assign(in_, at_, std::size_t(length));
  at_ += std::size_t(length);
  return status;
}

std::string RetargetHead(const std::string& head, const std::string& target, uint16_t port) {
  const std::size_t first = head.find(' ');
  const std::size_t second = head.find(' ', first + 1);
  if (first == std::string::npos || second == std::string::npos)
    throw std::runtime_error("not a request head");
  std::string result = head.substr(0, first + 1) + target + head.substr(second);
  const std::size_t host = result.find("\r\nHost: 127.0.0.1:");
  if (host != std::string::npos) {
    const std::size_t digits = host + std::string_view("\r\nHost: 127.0.0.1:").size();
    const std::size_t lineEnd = result.find("\r\n", digits);
    result.replace(digits, lineEnd - digits, std::to_string(port));
  }
  return result;
}

}  // namespace bench
