#include "runtime/CodePoints.h"

#include <algorithm>
#include <iterator>

#include "runtime/Text.h"

namespace rt {

namespace {

struct CodePointRun {
  char32_t first;
  char32_t last;
  CodePointKind kind;
};

struct BaseLetter {
  char32_t cp;
  unsigned char letter;
};

struct MarkedLetter {
  unsigned char letter;
  char32_t mark;
  unsigned char character;
};

#include "runtime/CodePointTables.inc"

}  // namespace

CodePointKind KindOfCodePoint(char32_t cp) {
  // Latin-1 without a search: most text of the pages is there.
  if (cp < 0x100) {
    if (cp <= 0x20 || (cp >= 0x7F && cp <= 0xA0)) return CodePointKind::WhiteSpace;
    return cp == 0xAD ? CodePointKind::Invisible : CodePointKind::Character;
  }
  const auto* end = std::end(kCodePointRuns);
  const auto* run = std::upper_bound(std::begin(kCodePointRuns), end, cp,
                                     [](char32_t c, const CodePointRun& r) { return c < r.first; });
  if (run == std::begin(kCodePointRuns)) return CodePointKind::Character;
  --run;
  return cp <= run->last ? run->kind : CodePointKind::Character;
}

void AppendAsWin1252(std::u32string_view text, std::string& out) {
  // One character at most per code point: room for all of them first, written through a
  // pointer, the rest given back at the end.
  const std::size_t start = out.size();
  out.resize(start + text.size());
  char* const first = out.data() + start;
  char* to = first;
  // The letter a combining mark may join: the last character written, when it was a letter
  // read just before the mark. A blank is written only after a character.
  bool afterLetter = false;
  for (const char32_t cp : text) {
    // Printable ASCII, most of any text, as it is.
    if (cp > 0x20 && cp < 0x7F) {
      *to++ = char(cp);
      afterLetter = (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z');
      continue;
    }
    const CodePointKind kind = KindOfCodePoint(cp);
    if (kind == CodePointKind::Invisible) continue;
    if (kind == CodePointKind::Mark) {
      if (!afterLetter) continue;
      const auto letter = static_cast<unsigned char>(to[-1]);
      const auto* end = std::end(kMarkedLetters);
      const auto* pair = std::find_if(std::begin(kMarkedLetters), end, [&](const MarkedLetter& m) {
        return m.letter == letter && m.mark == cp;
      });
      if (pair != end) to[-1] = char(pair->character);
      afterLetter = false;
      continue;
    }
    afterLetter = false;
    if (kind == CodePointKind::WhiteSpace) {
      if (to == first || to[-1] != ' ') *to++ = ' ';
      continue;
    }
    if (kind == CodePointKind::Dash) {
      *to++ = '-';
      continue;
    }
    if (const int byte = Win1252Byte(cp); byte >= 0) {
      *to++ = char(byte);
      continue;
    }
    const auto* end = std::end(kBaseLetters);
    const auto* base = std::lower_bound(std::begin(kBaseLetters), end, cp,
                                        [](const BaseLetter& b, char32_t c) { return b.cp < c; });
    *to++ = base != end && base->cp == cp ? char(base->letter) : '?';
  }
  out.resize(std::size_t(to - out.data()));
}

}  // namespace rt
