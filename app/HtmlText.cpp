#include "app/HtmlText.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "runtime/Text.h"

namespace app {

namespace {

struct HtmlReference {
  std::string_view name;
  char32_t first;
  char32_t second;  // 0 for a name that stands for one code point
};

constexpr HtmlReference kReferences[] = {
#include "app/HtmlReferences.inc"
};

// The longest name with its ";" (the longest without is shorter).
constexpr std::size_t kLongestName = [] {
  std::size_t longest = 0;
  for (const HtmlReference& r : kReferences) longest = std::max(longest, r.name.size());
  return longest;
}();

// The longest of the legacy names, those that also stand without ";".
constexpr std::size_t kLongestLegacyName = [] {
  std::size_t longest = 0;
  for (const HtmlReference& r : kReferences)
    if (r.name.back() != ';') longest = std::max(longest, r.name.size());
  return longest;
}();

constexpr char32_t kReplacement = 0xFFFD;
// Past the last code point: a longer number reads as this, whatever its digits.
constexpr uint32_t kPastLastCodePoint = 0x110000;

// Elements a browser shows on lines or in cells of their own.
constexpr std::string_view kSeparatingElements[] = {
    "address",    "article", "aside",  "blockquote", "br",    "dd", "div", "dl",      "dt",
    "figcaption", "figure",  "footer", "h1",         "h2",    "h3", "h4",  "h5",      "h6",
    "header",     "hr",      "li",     "main",       "nav",   "ol", "p",   "section", "table",
    "tbody",      "td",      "tfoot",  "th",         "thead", "tr", "ul"};

bool IsAsciiLetter(char32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsWhiteSpace(char32_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

int DigitValue(char32_t c, bool hex) {
  if (c >= '0' && c <= '9') return int(c - '0');
  if (!hex) return -1;
  if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
  return -1;
}

const HtmlReference* FindReference(std::string_view name) {
  const auto* end = std::end(kReferences);
  const auto* found =
      std::lower_bound(std::begin(kReferences), end, name,
                       [](const HtmlReference& r, std::string_view key) { return r.name < key; });
  return found != end && found->name == name ? found : nullptr;
}

char32_t NumericReference(uint32_t value) {
  if (value == 0 || value >= kPastLastCodePoint || (value >= 0xD800 && value <= 0xDFFF))
    return kReplacement;
  if (value >= 0x80 && value <= 0x9F) return rt::Win1252CodePoint(char(value));
  return value;
}

// The reference at `at` (an "&"): appends what it stands for and moves past it, or appends
// the "&" alone.
void ReadReference(std::u32string_view html, std::size_t& at, std::u32string& out) {
  const std::size_t size = html.size();
  std::size_t p = at + 1;
  if (p < size && html[p] == '#') {
    ++p;
    const bool hex = p < size && (html[p] == 'x' || html[p] == 'X');
    if (hex) ++p;
    const std::size_t digits = p;
    uint32_t value = 0;
    for (int d; p < size && (d = DigitValue(html[p], hex)) >= 0; ++p)
      value = std::min<uint32_t>(value * (hex ? 16 : 10) + uint32_t(d), kPastLastCodePoint);
    if (p != digits) {
      if (p < size && html[p] == ';') ++p;
      out.push_back(NumericReference(value));
      at = p;
      return;
    }
  } else {
    std::string name;
    for (; p < size && name.size() < kLongestName; ++p) {
      const char32_t c = html[p];
      if (!IsAsciiLetter(c) && !(c >= '0' && c <= '9')) break;
      name.push_back(char(c));
    }
    const HtmlReference* found = nullptr;
    std::size_t length = 0;
    if (p < size && html[p] == ';' && (found = FindReference(name + ";"))) {
      length = name.size() + 1;
    } else {
      for (length = std::min(name.size(), kLongestLegacyName); length > 0; --length)
        if ((found = FindReference(std::string_view(name).substr(0, length)))) break;
    }
    if (found) {
      out.push_back(found->first);
      if (found->second != 0) out.push_back(found->second);
      at += 1 + length;
      return;
    }
  }
  out.push_back('&');
  ++at;
}

// The tag at `at` (a "<" before a letter, or "</" before one): its name in lower case, and the
// position after its ">" (the end, for a tag left open).
std::size_t SkipTag(std::u32string_view html, std::size_t at, std::string& name) {
  const std::size_t size = html.size();
  std::size_t p = at + 1;
  if (html[p] == '/') ++p;
  for (; p < size && !IsWhiteSpace(html[p]) && html[p] != '/' && html[p] != '>'; ++p)
    name.push_back(char(rt::LowerChar(html[p] < 0x80 ? char(html[p]) : '?')));
  while (p < size && html[p] != '>') {
    if (html[p++] != '=') continue;
    while (p < size && IsWhiteSpace(html[p])) ++p;
    if (p < size && (html[p] == '"' || html[p] == '\'')) {
      const std::size_t close = html.find(html[p], p + 1);
      p = close == std::u32string_view::npos ? size : close + 1;
    }
  }
  return std::min(p + 1, size);
}

// The position after a comment or "<!...>", "<?...>" that starts at `at`.
std::size_t SkipComment(std::u32string_view html, std::size_t at) {
  std::size_t close;
  if (html.substr(at, 4) == U"<!--") {
    // Searched from the opening's dashes: "<!-->" and "<!--->" end where they start.
    close = html.find(U"-->", at + 2);
    if (close != std::u32string_view::npos) close += 2;
  } else {
    close = html.find('>', at + 2);
  }
  return close == std::u32string_view::npos ? html.size() : close + 1;
}

bool SeparatesWords(std::string_view element) {
  return std::find(std::begin(kSeparatingElements), std::end(kSeparatingElements), element) !=
         std::end(kSeparatingElements);
}

}  // namespace

void AppendHtmlText(std::u32string_view html, std::u32string& out) {
  out.reserve(out.size() + html.size());
  const std::size_t size = html.size();
  for (std::size_t at = 0; at < size;) {
    const char32_t c = html[at];
    if (c == '&') {
      ReadReference(html, at, out);
      continue;
    }
    if (c == '<' && at + 1 < size) {
      const char32_t next = html[at + 1];
      if (IsAsciiLetter(next) || (next == '/' && at + 2 < size && IsAsciiLetter(html[at + 2]))) {
        std::string name;
        at = SkipTag(html, at, name);
        if (SeparatesWords(name)) out.push_back(' ');
        continue;
      }
      if (next == '!' || next == '?') {
        at = SkipComment(html, at);
        continue;
      }
      if (next == '/' && at + 2 < size && html[at + 2] == '>') {
        at += 3;  // "</>" is nothing
        continue;
      }
    }
    out.push_back(c);
    ++at;
  }
}

}  // namespace app
