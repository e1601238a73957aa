#include "fuzz/FuzzInput.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz {

void Fail(const char* property, std::string_view detail) {
  std::fprintf(stderr, "property broken: %s\n", property);
  if (!detail.empty()) {
    std::fprintf(stderr, "detail (%zu bytes): ", detail.size());
    for (unsigned char c : detail) {
      if (c >= 0x20 && c < 0x7F && c != '\\')
        std::fputc(c, stderr);
      else
        std::fprintf(stderr, "\\x%02X", c);
    }
    std::fputc('\n', stderr);
  }
  std::abort();
}

}  // namespace fuzz
