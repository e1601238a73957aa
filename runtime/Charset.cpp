#include "runtime/Charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <set>

#include "runtime/Text.h"

namespace rt {

namespace {

struct CharsetLabel {
  std::string_view label;
  std::string_view name;
  std::string_view iconvName;
};

constexpr CharsetLabel kLabels[] = {
#include "runtime/CharsetLabels.inc"
};

constexpr char32_t kReplacement = 0xFFFD;
// Code points iconv writes per call; a span of a page is a few hundred at most.
constexpr std::size_t kIconvChunk = 256;
// The longest label taken: the web's longest is 19 characters; iconv's are short too, and a
// page must not be able to hand iconv_open an arbitrary text.
constexpr std::size_t kMaxLabelLength = 40;

bool IsAsciiWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// Letters, digits and the punctuation of charset names; nothing that iconv would read as an
// option ("//TRANSLIT") or a path.
bool IsLabelCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
         c == ':';
}

Charset Make(Charset::Kind kind, std::string_view name, std::string_view iconvName = {}) {
  return Charset{kind, name, iconvName};
}

// A label iconv knows, kept for the program's life: iconv knows a fixed set of names, so the
// set stays small whatever the pages say.
std::string_view Kept(const std::string& label) {
  static std::set<std::string, std::less<>> kept;
  return *kept.insert(label).first;
}

Charset OfWebName(std::string_view name, std::string_view iconvName) {
  if (name == "utf-8") return Utf8Charset();
  if (name == "windows-1252") return Windows1252Charset();
  if (name == "replacement") return Make(Charset::Kind::Replacement, name);
  if (name == "x-user-defined") return Make(Charset::Kind::UserDefined, name);
  return Make(Charset::Kind::Iconv, name, iconvName);
}

bool IconvKnows(const std::string& name) {
  iconv_t cd = iconv_open("UTF-32LE", name.c_str());
  if (cd == iconv_t(-1)) return false;
  iconv_close(cd);
  return true;
}

// UTF-8 as the web decodes it: a sequence that breaks off gives one U+FFFD for the bytes
// taken so far, and the byte that broke it starts over. Every code point written takes at
// least one byte, so room for one per byte is enough.
void DecodeUtf8(std::string_view bytes, std::u32string& out) {
  const std::size_t start = out.size();
  out.resize(start + bytes.size());
  char32_t* to = out.data() + start;
  char32_t cp = 0;
  int needed = 0;
  unsigned lower = 0x80, upper = 0xBF;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (needed == 0) {
      ++i;
      if (b < 0x80) {
        *to++ = b;
      } else if (b >= 0xC2 && b <= 0xDF) {
        needed = 1;
        cp = b & 0x1F;
      } else if (b >= 0xE0 && b <= 0xEF) {
        lower = b == 0xE0 ? 0xA0 : 0x80;
        upper = b == 0xED ? 0x9F : 0xBF;
        needed = 2;
        cp = b & 0x0F;
      } else if (b >= 0xF0 && b <= 0xF4) {
        lower = b == 0xF0 ? 0x90 : 0x80;
        upper = b == 0xF4 ? 0x8F : 0xBF;
        needed = 3;
        cp = b & 0x07;
      } else {
        *to++ = kReplacement;
      }
      continue;
    }
    if (b < lower || b > upper) {
      // Not consumed: it starts the next character.
      needed = 0;
      lower = 0x80;
      upper = 0xBF;
      *to++ = kReplacement;
      continue;
    }
    ++i;
    lower = 0x80;
    upper = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
    if (--needed == 0) *to++ = cp;
  }
  if (needed != 0) *to++ = kReplacement;
  out.resize(std::size_t(to - out.data()));
}

// `unit`: the bytes an invalid sequence is skipped by (2 in UTF-16, where a lone surrogate is
// one invalid character).
void DecodeIconv(std::string_view name, std::size_t unit, std::string_view bytes,
                 std::u32string& out) {
  iconv_t cd = iconv_open("UTF-32LE", std::string(name).c_str());
  if (cd == iconv_t(-1)) {
    if (!bytes.empty()) out.push_back(kReplacement);
    return;
  }
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  unsigned char buffer[kIconvChunk * 4];
  auto take = [&](const unsigned char* end) {
    for (const unsigned char* p = buffer; p + 4 <= end; p += 4)
      out.push_back(char32_t(p[0]) | char32_t(p[1]) << 8 | char32_t(p[2]) << 16 |
                    char32_t(p[3]) << 24);
  };
  for (;;) {
    char* to = reinterpret_cast<char*>(buffer);
    std::size_t toLeft = sizeof buffer;
    // With every byte read, one more call writes what a stateful set still holds.
    const bool flushing = inLeft == 0;
    const std::size_t result = flushing ? iconv(cd, nullptr, nullptr, &to, &toLeft)
                                        : iconv(cd, &in, &inLeft, &to, &toLeft);
    const int error = result == std::size_t(-1) ? errno : 0;
    take(reinterpret_cast<unsigned char*>(to));
    if (error == E2BIG) continue;
    if (flushing) break;
    if (error == EILSEQ) {
      out.push_back(kReplacement);
      const std::size_t skipped = std::min(unit, inLeft);
      in += skipped;
      inLeft -= skipped;
    } else if (error == EINVAL) {
      // A sequence cut by the end of the bytes.
      out.push_back(kReplacement);
      inLeft = 0;
    } else if (error != 0) {
      break;
    }
  }
  iconv_close(cd);
}

}  // namespace

Charset Utf8Charset() {
  return Make(Charset::Kind::Utf8, "utf-8");
}

Charset Windows1252Charset() {
  return Make(Charset::Kind::Windows1252, "windows-1252");
}

std::optional<Charset> CharsetOfLabel(std::string_view label) {
  while (!label.empty() && IsAsciiWhiteSpace(label.front())) label.remove_prefix(1);
  while (!label.empty() && IsAsciiWhiteSpace(label.back())) label.remove_suffix(1);
  if (label.empty() || label.size() > kMaxLabelLength) return std::nullopt;
  // The web's labels are sorted by their lower-case text.
  char buffer[kMaxLabelLength];
  for (std::size_t i = 0; i < label.size(); ++i) buffer[i] = LowerChar(label[i]);
  const std::string_view lower(buffer, label.size());
  const auto* end = std::end(kLabels);
  const auto* found = std::lower_bound(
      std::begin(kLabels), end, lower,
      [](const CharsetLabel& entry, std::string_view key) { return entry.label < key; });
  if (found != end && found->label == lower) return OfWebName(found->name, found->iconvName);
  if (!std::all_of(lower.begin(), lower.end(), IsLabelCharacter) || !IconvKnows(std::string(lower)))
    return std::nullopt;
  const std::string_view kept = Kept(std::string(lower));
  return Make(Charset::Kind::Iconv, kept, kept);
}

void DecodeCharset(const Charset& charset, std::string_view bytes, std::u32string& out) {
  switch (charset.kind) {
    case Charset::Kind::Utf8:
      DecodeUtf8(bytes, out);
      return;
    case Charset::Kind::Windows1252: {
      const std::size_t start = out.size();
      out.resize(start + bytes.size());
      for (std::size_t i = 0; i < bytes.size(); ++i) out[start + i] = Win1252CodePoint(bytes[i]);
      return;
    }
    case Charset::Kind::UserDefined:
      for (const char b : bytes) {
        const auto c = static_cast<unsigned char>(b);
        out.push_back(c < 0x80 ? char32_t(c) : char32_t(0xF780 + c - 0x80));
      }
      return;
    case Charset::Kind::Replacement:
      if (!bytes.empty()) out.push_back(kReplacement);
      return;
    case Charset::Kind::Iconv:
      DecodeIconv(charset.iconvName, charset.TwoByteUnits() ? 2 : 1, bytes, out);
      return;
  }
}

bool LooksLikeUtf8(std::string_view bytes) {
  bool multiByte = false;
  std::size_t i = 0;
  const std::size_t size = bytes.size();
  while (i < size) {
    // Eight ASCII bytes at a time: most of a page is markup.
    if (i + 8 <= size) {
      uint64_t word;
      std::memcpy(&word, bytes.data() + i, sizeof word);
      if ((word & 0x8080808080808080u) == 0) {
        i += 8;
        continue;
      }
    }
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    int needed;
    unsigned lower = 0x80, upper = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      needed = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      needed = 2;
      if (b == 0xE0) lower = 0xA0;
      if (b == 0xED) upper = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      needed = 3;
      if (b == 0xF0) lower = 0x90;
      if (b == 0xF4) upper = 0x8F;
    } else {
      return false;
    }
    ++i;
    for (int k = 0; k < needed; ++k, ++i) {
      if (i == size) return true;
      const auto c = static_cast<unsigned char>(bytes[i]);
      if (c < lower || c > upper) return false;
      lower = 0x80;
      upper = 0xBF;
    }
    multiByte = true;
  }
  return multiByte;
}

}  // namespace rt
