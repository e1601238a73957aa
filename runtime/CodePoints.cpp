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

std::string TextAsWin1252(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  // The letter a combining mark may join: the last character written, when it was a letter
  // read just before the mark.
  bool afterLetter = false;
  for (const char32_t cp : text) {
    const CodePointKind kind = KindOfCodePoint(cp);
    if (kind == CodePointKind::Invisible) continue;
    if (kind == CodePointKind::Mark) {
      if (!afterLetter) continue;
      const auto letter = static_cast<unsigned char>(out.back());
      const auto* end = std::end(kMarkedLetters);
      const auto* pair = std::find_if(std::begin(kMarkedLetters), end, [&](const MarkedLetter& m) {
        return m.letter == letter && m.mark == cp;
      });
      if (pair != end) out.back() = char(pair->character);
      afterLetter = false;
      continue;
    }
    afterLetter = false;
    if (kind == CodePointKind::WhiteSpace) {
      if (out.empty() || out.back() != ' ') out.push_back(' ');
      continue;
    }
    if (kind == CodePointKind::Dash) {
      out.push_back('-');
      continue;
    }
    if (const int byte = Win1252Byte(cp); byte >= 0) {
      out.push_back(char(byte));
      afterLetter = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
      continue;
    }
    const auto* end = std::end(kBaseLetters);
    const auto* base = std::lower_bound(std::begin(kBaseLetters), end, cp,
                                        [](const BaseLetter& b, char32_t c) { return b.cp < c; });
    out.push_back(base != end && base->cp == cp ? char(base->letter) : '?');
  }
  return out;
}

}  // namespace rt
