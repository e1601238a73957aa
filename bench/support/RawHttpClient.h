// The floor of the HTTP comparisons: a minimal client on a raw socket that sends request bytes
// it is handed and reads one answer framed by Content-Length, keeping the connection open.
// It does only what the loopback and the server make unavoidable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

class RawHttpClient {
 public:
  // Connects to 127.0.0.1:port; raises std::runtime_error when it cannot.
  explicit RawHttpClient(uint16_t port);
  ~RawHttpClient();
  RawHttpClient(const RawHttpClient&) = delete;
  RawHttpClient& operator=(const RawHttpClient&) = delete;

  // Sends `head` (a whole request head) and reads the answer; returns its status code, the
  // body in `body`. Raises std::runtime_error on a closed connection or an answer it cannot
  // frame.
  int Exchange(std::string_view head, std::string& body);

 private:
  void Fill();

  // Bytes asked of the socket per receive call.
  static constexpr std::size_t kReceiveChunk = 65536;

  int fd_ = -1;
  std::vector<char> buffer_ = std::vector<char>(kReceiveChunk);  // one receive call's bytes
  std::string in_;                                               // received and not yet used
  std::size_t at_ = 0;                                           // start of the unused part of in_
};

// The request head `head` (as captured from a client) with its target replaced by `target`
// and its Host header's port by `port`.
std::string RetargetHead(const std::string& head, const std::string& target, uint16_t port);

}  // namespace bench
