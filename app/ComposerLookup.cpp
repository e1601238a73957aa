#include "app/ComposerLookup.h"

#include <cstdlib>

#include "app/U_Funcoes.h"
#include "runtime/Text.h"

namespace app {

std::string LyricsBaseAddress() {
  const char* configured = std::getenv(kLyricsAddressVariable);
  if (configured != nullptr && *configured != '\0') return configured;
  return std::string(kLyricsBaseAddress);
}

std::string PageName(const std::string& text) {
  std::string name = rt::LowerCase(rt::Trim(FoldAccents(ReplaceUnsafeChars(text))));
  name = rt::ReplaceAll(name, " ", "-", true);
  return rt::ReplaceAll(name, "&", "e", true);
}

std::string PageAddress(const std::string& base, const std::string& performer,
                        const std::string& title, std::size_t attempt) {
  std::string address = base;
  address += PageName(performer);
  address += kPathSeparator;
  address += PageName(title);
  address += kPageSuffixes.at(attempt);
  address += kPageExtension;
  return address;
}

std::string ExtractComposer(std::string_view page) {
  std::size_t start = page.find(kComposerStartMarker);
  if (start == std::string_view::npos) return {};
  std::size_t from = start + kComposerSkip;
  std::string_view tail = from < page.size() ? page.substr(from) : std::string_view();
  std::size_t end = tail.find(kComposerEndMarker);
  if (end == std::string_view::npos) return {};
  std::string_view composer = tail.substr(0, std::min(end, kComposerMaxLength));
  return rt::Trim(composer);
}

}  // namespace app
