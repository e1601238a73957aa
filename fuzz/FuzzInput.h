// Splitting one fuzzer input into the several texts a target needs.
//
// The parts of an input are separated by the byte 0x01, which none of the texts under test
// gives a meaning to; a part that is missing reads as empty. Keeping the parts as plain bytes
// (rather than a binary encoding) lets the seed files stay readable and lets the fuzzer's
// mutations land on the texts themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Separates the parts of an input.
constexpr char kPartSeparator = '\x01';

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  // The next part; empty once the input is used up.
  std::string Next() {
    if (exhausted_) return {};
    std::size_t end = rest_.find(kPartSeparator);
    std::string part(rest_.substr(0, end));
    if (end == std::string_view::npos) {
      exhausted_ = true;
      rest_ = {};
    } else {
      rest_.remove_prefix(end + 1);
    }
    return part;
  }
  // Everything not yet taken, separators included.
  std::string Rest() {
    std::string rest(rest_);
    exhausted_ = true;
    rest_ = {};
    return rest;
  }
  // The next part's first byte as a small number (0 when the part is empty).
  unsigned NextByte() {
    std::string part = Next();
    return part.empty() ? 0u : static_cast<unsigned char>(part[0]);
  }
  bool Empty() const { return exhausted_; }

 private:
  std::string_view rest_;
  bool exhausted_ = false;
};

// Reports a broken property: the fuzzer treats the abort as a crash and keeps the input.
[[noreturn]] void Fail(const char* property, std::string_view detail = {});

inline void Check(bool holds, const char* property, std::string_view detail = {}) {
  if (!holds) Fail(property, detail);
}

}  // namespace fuzz
