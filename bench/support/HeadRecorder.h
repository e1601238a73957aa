// The exact request head a client sends for a GET, recorded by a one-shot listener on
// 127.0.0.1 that answers "200 OK" with an empty body. The raw floor of a comparison sends the
// bytes recorded from the client it is compared with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace bench {

// The exact request head a client sends for a GET: `get` is called with an address on a
// one-shot listener of 127.0.0.1, which records the head and answers "200 OK" with an empty
// body. Raises std::runtime_error when nothing arrived.
template <typename Get>
std::string CaptureRequestHead(const std::string& path, Get get);

// The listener half of CaptureRequestHead.
class HeadRecorder {
 public:
  HeadRecorder();
  ~HeadRecorder();
  HeadRecorder(const HeadRecorder&) = delete;
  HeadRecorder& operator=(const HeadRecorder&) = delete;
  uint16_t Port() const { return port_; }
  // Accepts one connection in a thread of its own; Head() waits for it.
  void Start();
  std::string Head();

 private:
  struct State;
  std::unique_ptr<State> state_;
  uint16_t port_ = 0;
};

template <typename Get>
std::string CaptureRequestHead(const std::string& path, Get get) {
  HeadRecorder recorder;
  recorder.Start();
  get("http://127.0.0.1:" + std::to_string(recorder.Port()) + path);
  return recorder.Head();
}

}  // namespace bench
