// Reading a settings file from memory: sections, keys, quotes, blanks and the value limit.
//
// Input parts: the file text, the section, the key.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "runtime/Profile.h"

namespace {

// A default no file can produce: it holds the part separator.
const std::string kFallback = "\x01missing\x01";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::FuzzInput input(data, size);
  const std::string text = input.Next();
  const std::string section = input.Next();
  const std::string key = input.Next();

  const std::string value = rt::ReadProfileStringFromText(text, section, key, kFallback);
  if (value != kFallback) {
    fuzz::Check(value.size() <= rt::kProfileValueLimit, "a value is cut at the limit", value);
    fuzz::Check(value.find('\n') == std::string::npos, "a value never spans lines", value);
  }
  // The program's own question of its settings file.
  const std::string path = rt::ReadProfileStringFromText(text, "BANCO", "CAMINHO");
  fuzz::Check(path.size() <= rt::kProfileValueLimit, "the database name is cut at the limit");
  return 0;
}
