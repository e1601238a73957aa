#include "app/ComposerLookup.h"

#include <algorithm>
#include <cstdlib>

#include "app/HtmlText.h"
#include "app/PageEncoding.h"
#include "app/U_Funcoes.h"
#include "runtime/CodePoints.h"
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

namespace {

// The first `marker` (ASCII) at or after `from`, as the page's set writes it: in UTF-16 every
// character takes two bytes, and a match must start on a character.
std::size_t FindMarker(std::string_view page, std::string_view marker, const rt::Charset& charset,
                       std::size_t from) {
  if (!charset.TwoByteUnits()) return page.find(marker, from);
  const bool bigEndian = charset.iconvName == "UTF-16BE";
  std::string wide;
  for (const char c : marker) {
    wide.push_back(bigEndian ? '\0' : c);
    wide.push_back(bigEndian ? c : '\0');
  }
  std::size_t found = page.find(wide, from);
  while (found != std::string_view::npos && found % 2 != 0) found = page.find(wide, found + 1);
  return found;
}

bool IsAsciiLetter(char32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

std::string ExtractComposer(std::string_view page, std::string_view contentType) {
  const rt::Charset charset = PageCharset(page, contentType);
  // A page in a set that is never decoded reads as one U+FFFD: it names no composer.
  if (charset.kind == rt::Charset::Kind::Replacement) return {};
  const std::size_t start = FindMarker(page, kComposerStartMarker, charset, 0);
  if (start == std::string_view::npos) return {};
  const std::size_t from = start + kComposerStartMarker.size() * (charset.TwoByteUnits() ? 2 : 1);
  const std::size_t end = FindMarker(page, kComposerEndMarker, charset, from);
  if (end == std::string_view::npos) return {};

  // The span's code points, then its text, and the text in Windows-1252: kept from page to page,
  // so that their memory serves every page.
  thread_local std::u32string span, text;
  thread_local std::string written;
  span.clear();
  text.clear();
  written.clear();
  rt::DecodeCharset(charset, page.substr(from, std::min(end - from, kComposerSpanLimit)), span);
  // The rest of the label's word: "Compositores", "Compositora".
  std::size_t name = 0;
  while (name < span.size() && IsAsciiLetter(span[name])) ++name;
  AppendHtmlText(std::u32string_view(span).substr(name), text);
  rt::AppendAsWin1252(text, written);
  // Then blanks and one colon, which may stand after the label's markup ("<b>Compositor</b>:").
  std::string_view composer = rt::TrimView(written);
  if (!composer.empty() && composer.front() == ':') composer = rt::TrimView(composer.substr(1));
  return rt::Trim(composer.substr(0, kComposerMaxLength));
}

}  // namespace app
