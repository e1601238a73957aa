#include "runtime/Text.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "runtime/Exception.h"

namespace {

bool IsTrimmed(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

bool EqualIgnoringCase(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i] && rt::UpperChar(a[i]) != rt::UpperChar(b[i])) return false;
  return true;
}

std::size_t FindIgnoringCase(std::string_view text, std::string_view sub) {
  if (sub.size() > text.size()) return std::string_view::npos;
  for (std::size_t i = 0; i + sub.size() <= text.size(); ++i)
    if (EqualIgnoringCase(text.data() + i, sub.data(), sub.size())) return i;
  return std::string_view::npos;
}

[[noreturn]] void RaiseNotInteger(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

// Reads an integer as the standard conversion does. Returns false on any malformed text or
// a value outside [lo, hi].
bool ParseInteger(std::string_view text, int64_t lo, int64_t hi, int64_t& out) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  // Accumulate as a magnitude in unsigned 64 bits; the limit keeps one more than INT64_MAX for
  // the most negative value.
  const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                  : uint64_t(std::numeric_limits<int64_t>::max());
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    if (magnitude > (limit - uint64_t(digit)) / uint64_t(base)) return false;
    magnitude = magnitude * uint64_t(base) + uint64_t(digit);
  }
  int64_t value;
  if (negative)
    value = magnitude == uint64_t(std::numeric_limits<int64_t>::max()) + 1
                ? std::numeric_limits<int64_t>::min()
                : -int64_t(magnitude);
  else
    value = int64_t(magnitude);
  if (value < lo || value > hi) return false;
  out = value;
  return true;
}

}  // namespace

std::string SplitAt(std::string& text, std::string_view delimiter, bool remove, bool matchCase) {
  std::size_t pos = std::string_view::npos;
  if (!delimiter.empty())
    pos = matchCase ? std::string_view(text).find(delimiter) : FindIgnoringCase(text, delimiter);
  if (pos == std::string_view::npos) {
    std::string whole = text;
    if (remove) text.clear();
    return whole;
  }
  std::string before = text.substr(0, pos);
  if (remove) text.erase(0, pos + delimiter.size());
  return before;
}

std::size_t FirstPos(std::string_view sub, std::string_view text) {
  if (sub.empty()) return 0;
  std::size_t pos = text.find(sub);
  return pos == std::string_view::npos ? 0 : pos + 1;
}

std::size_t LastPos(std::string_view sub, std::string_view text, long long start) {
  if (sub.empty() || sub.size() > text.size()) return 0;
  long long last = static_cast<long long>(text.size() - sub.size()) + 1;
  long long from = (start < 0 || start > last) ? last : start;
  for (long long p = from; p >= 1; --p)
    if (EqualIgnoringCase(text.data() + p - 1, sub.data(), sub.size())) return std::size_t(p);
  return 0;
}

namespace rt {

std::string TrimLeft(std::string_view text) {
  std::size_t b = 0;
  while (b < text.size() && IsTrimmed(text[b])) ++b;
  return std::string(text.substr(b));
}

std::string TrimRight(std::string_view text) {
  std::size_t e = text.size();
  while (e > 0 && IsTrimmed(text[e - 1])) --e;
  return std::string(text.substr(0, e));
}

std::string_view TrimView(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsTrimmed(text[b])) ++b;
  while (e > b && IsTrimmed(text[e - 1])) --e;
  return text.substr(b, e - b);
}

std::string Trim(std::string_view text) {
  return std::string(TrimView(text));
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerChar(c);
  return out;
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperChar(c);
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  // Texts that are equal byte for byte, the common case, need no case folding.
  return a.size() == b.size() && (a == b || EqualIgnoringCase(a.data(), b.data(), a.size()));
}

int CompareText(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(UpperChar(a[i]));
    unsigned char y = static_cast<unsigned char>(UpperChar(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool StartsText(std::string_view prefix, std::string_view text) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

bool EndsText(std::string_view suffix, std::string_view text) {
  return text.size() >= suffix.size() && SameText(text.substr(text.size() - suffix.size()), suffix);
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to,
                       bool ignoreCase) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::string_view rest = text.substr(i);
    std::size_t hit = ignoreCase ? FindIgnoringCase(rest, from) : rest.find(from);
    if (hit == std::string_view::npos) {
      out.append(rest);
      break;
    }
    out.append(rest.substr(0, hit));
    out.append(to);
    i += hit + from.size();
  }
  return out;
}

int32_t StrToInt(std::string_view text) {
  int64_t v;
  if (!ParseInteger(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                    v))
    RaiseNotInteger(text);
  return int32_t(v);
}

int64_t StrToInt64(std::string_view text) {
  int64_t v;
  if (!TryStrToInt64(text, v)) RaiseNotInteger(text);
  return v;
}

bool TryStrToInt64(std::string_view text, int64_t& value) {
  return ParseInteger(text, std::numeric_limits<int64_t>::min(),
                      std::numeric_limits<int64_t>::max(), value);
}

int32_t StrToIntDef(std::string_view text, int32_t fallback) {
  int64_t v;
  return ParseInteger(text, std::numeric_limits<int32_t>::min(),
                      std::numeric_limits<int32_t>::max(), v)
             ? int32_t(v)
             : fallback;
}

int64_t StrToInt64Def(std::string_view text, int64_t fallback) {
  int64_t v;
  return TryStrToInt64(text, v) ? v : fallback;
}

std::string IntToStr(int64_t value) {
  return std::to_string(value);
}

namespace {
// Code points of the bytes 80-9F in Windows-1252; the undefined five keep their C1 value.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(char(cp));
  } else if (cp < 0x800) {
    out.push_back(char(0xC0 | (cp >> 6)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(char(0xE0 | (cp >> 12)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  }
}

char CodePointToWin1252(uint32_t cp) {
  const int byte = Win1252Byte(cp);
  return byte < 0 ? '?' : char(byte);
}
}  // namespace

char32_t Win1252CodePoint(char byte) {
  const auto c = static_cast<unsigned char>(byte);
  return c >= 0x80 && c < 0xA0 ? kHighControls[c - 0x80] : c;
}

int Win1252Byte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return int(cp);
  for (int i = 0; i < 32; ++i)
    if (kHighControls[i] == cp) return 0x80 + i;
  return -1;
}

std::string Win1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80)
      out.push_back(ch);
    else if (c < 0xA0)
      AppendUtf8(out, Win1252CodePoint(ch));
    else
      AppendUtf8(out, c);
  }
  return out;
}

std::string Utf8ToWin1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp;
    std::size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      out.push_back('?');
      ++i;
      continue;
    }
    if (i + len > text.size()) {
      out.push_back('?');
      break;
    }
    bool ok = true;
    for (std::size_t k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) {
      out.push_back('?');
      ++i;
      continue;
    }
    out.push_back(CodePointToWin1252(cp));
    i += len;
  }
  return out;
}

}  // namespace rt

namespace rt {

std::string FillIn(std::string_view pattern, std::initializer_list<std::string_view> values) {
  std::string text;
  auto value = values.begin();
  for (std::size_t at = 0; at < pattern.size();) {
    const std::size_t mark = pattern.find("%s", at);
    if (mark == std::string_view::npos || value == values.end()) {
      text.append(pattern.substr(at));
      break;
    }
    text.append(pattern.substr(at, mark - at));
    text.append(*value++);
    at = mark + 2;
  }
  return text;
}

}  // namespace rt
