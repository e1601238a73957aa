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

namespace {

// What PageName makes of each byte before trimming: unsafe characters to blanks, accents
// folded, A-Z lower-cased. Built from the folding functions themselves.
const std::array<char, 256>& PageNameMap() {
  static const std::array<char, 256> map = [] {
    std::array<char, 256> m{};
    for (int c = 0; c < 256; ++c) {
      const std::string folded = FoldAccents(ReplaceUnsafeChars(std::string(1, char(c))));
      m[std::size_t(c)] = rt::LowerChar(folded[0]);
    }
    return m;
  }();
  return map;
}

bool IsTrimmedByte(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

// Appends the page name of `text` to `out`: one pass over the bytes, no copies between steps.
void AppendPageName(std::string& out, std::string_view text) {
  const std::array<char, 256>& map = PageNameMap();
  auto mapped = [&](std::size_t i) { return map[static_cast<unsigned char>(text[i])]; };
  std::size_t b = 0, e = text.size();
  while (b < e && IsTrimmedByte(mapped(b))) ++b;
  while (e > b && IsTrimmedByte(mapped(e - 1))) --e;
  for (std::size_t i = b; i < e; ++i) {
    const char c = mapped(i);
    out.push_back(c == ' ' ? '-' : c == '&' ? 'e' : c);
  }
}

}  // namespace

std::string PageName(const std::string& text) {
  std::string name;
  name.reserve(text.size());
  AppendPageName(name, text);
  return name;
}

std::string PageAddress(const std::string& base, const std::string& performer,
                        const std::string& title, std::size_t attempt) {
  return PageAddressOfNames(base, PageName(performer), PageName(title), attempt);
}

std::string PageAddressOfNames(std::string_view base, std::string_view performerName,
                               std::string_view titleName, std::size_t attempt) {
  const std::string_view suffix = kPageSuffixes.at(attempt);
  std::string address;
  address.reserve(base.size() + performerName.size() + kPathSeparator.size() + titleName.size() +
                  suffix.size() + kPageExtension.size());
  address.append(base);
  address.append(performerName);
  address.append(kPathSeparator);
  address.append(titleName);
  address.append(suffix);
  address.append(kPageExtension);
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
