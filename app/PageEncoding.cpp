#include "app/PageEncoding.h"

#include <string>

#include "runtime/Text.h"

namespace app {

namespace {

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool StartsAt(std::string_view text, std::size_t at, std::string_view prefix) {
  return text.size() - at >= prefix.size() && rt::SameText(text.substr(at, prefix.size()), prefix);
}

// A <meta> as the prescan reads it: the first value of each attribute name, names and values
// with A-Z lowered.
struct Attribute {
  std::string name;
  std::string value;
};

// Reads the next attribute of a tag at `at`; false at the tag's end or the end of the text.
bool NextAttribute(std::string_view text, std::size_t& at, Attribute& attribute) {
  const std::size_t size = text.size();
  while (at < size && (IsWhiteSpace(text[at]) || text[at] == '/')) ++at;
  if (at >= size || text[at] == '>') return false;
  attribute.name.clear();
  attribute.value.clear();
  for (;; ++at) {
    if (at >= size) return false;
    const char c = text[at];
    if (c == '=' && !attribute.name.empty()) break;
    if (IsWhiteSpace(c)) {
      while (at < size && IsWhiteSpace(text[at])) ++at;
      if (at >= size || text[at] != '=') return at < size;
      break;
    }
    if (c == '/' || c == '>') return true;
    attribute.name.push_back(rt::LowerChar(c));
  }
  ++at;  // the "="
  while (at < size && IsWhiteSpace(text[at])) ++at;
  if (at >= size) return false;
  if (const char quote = text[at]; quote == '"' || quote == '\'') {
    for (++at; at < size; ++at) {
      if (text[at] == quote) {
        ++at;
        return true;
      }
      attribute.value.push_back(rt::LowerChar(text[at]));
    }
    return false;
  }
  for (; at < size && !IsWhiteSpace(text[at]) && text[at] != '>'; ++at)
    attribute.value.push_back(rt::LowerChar(text[at]));
  return at < size;
}

// The label after "charset=" in a <meta>'s content attribute.
std::optional<std::string_view> LabelOfMetaContent(std::string_view content) {
  constexpr std::string_view kCharset = "charset";
  for (std::size_t at = 0;;) {
    const std::size_t found = content.find(kCharset, at);
    if (found == std::string_view::npos) return std::nullopt;
    at = found + kCharset.size();
    while (at < content.size() && IsWhiteSpace(content[at])) ++at;
    if (at >= content.size() || content[at] != '=') continue;
    ++at;
    while (at < content.size() && IsWhiteSpace(content[at])) ++at;
    if (at >= content.size()) return std::nullopt;
    if (const char quote = content[at]; quote == '"' || quote == '\'') {
      const std::size_t close = content.find(quote, at + 1);
      if (close == std::string_view::npos) return std::nullopt;
      return content.substr(at + 1, close - at - 1);
    }
    std::size_t end = at;
    while (end < content.size() && !IsWhiteSpace(content[end]) && content[end] != ';') ++end;
    return content.substr(at, end - at);
  }
}

// The set a <meta> whose attributes start at `at` declares; `at` ends after them.
std::optional<rt::Charset> MetaCharset(std::string_view text, std::size_t& at) {
  std::string seen = " ";  // the names met so far, each followed by a blank
  bool gotPragma = false;
  enum class Pragma { Unknown, Needed, NotNeeded } needPragma = Pragma::Unknown;
  std::optional<rt::Charset> charset;
  bool charsetRead = false;  // a charset attribute, or a content naming a known set, was read
  for (Attribute attribute; NextAttribute(text, at, attribute);) {
    const std::string key = " " + attribute.name + " ";
    if (seen.find(key) != std::string::npos) continue;
    seen.append(attribute.name).push_back(' ');
    if (attribute.name == "http-equiv") {
      gotPragma = gotPragma || attribute.value == "content-type";
    } else if (attribute.name == "content") {
      if (charsetRead) continue;
      if (const auto label = LabelOfMetaContent(attribute.value)) {
        if ((charset = rt::CharsetOfLabel(*label))) {
          charsetRead = true;
          needPragma = Pragma::Needed;
        }
      }
    } else if (attribute.name == "charset") {
      charset = rt::CharsetOfLabel(attribute.value);
      charsetRead = true;
      needPragma = Pragma::NotNeeded;
    }
  }
  if (needPragma == Pragma::Unknown || (needPragma == Pragma::Needed && !gotPragma) || !charset)
    return std::nullopt;
  if (charset->TwoByteUnits()) return rt::Utf8Charset();
  if (charset->kind == rt::Charset::Kind::UserDefined) return rt::Windows1252Charset();
  return charset;
}

// The set the charset parameter of a Content-Type value names.
std::optional<rt::Charset> ReadContentTypeCharset(std::string_view contentType) {
  // type/subtype, then ";"-separated parameters: name=value or name="quoted value".
  std::size_t at = contentType.find(';');
  while (at != std::string_view::npos && at < contentType.size()) {
    ++at;
    while (at < contentType.size() && IsWhiteSpace(contentType[at])) ++at;
    std::size_t nameEnd = at;
    while (nameEnd < contentType.size() && contentType[nameEnd] != '=' &&
           contentType[nameEnd] != ';')
      ++nameEnd;
    const std::string_view name = rt::TrimView(contentType.substr(at, nameEnd - at));
    at = nameEnd;
    if (at >= contentType.size() || contentType[at] == ';') continue;
    ++at;  // the "="
    std::string_view value;
    std::string unquoted;  // a quoted value, its backslashes taken out
    if (at < contentType.size() && contentType[at] == '"') {
      for (++at; at < contentType.size() && contentType[at] != '"'; ++at) {
        if (contentType[at] == '\\' && at + 1 < contentType.size()) ++at;
        unquoted.push_back(contentType[at]);
      }
      value = unquoted;
      at = contentType.find(';', at);
    } else {
      const std::size_t end = contentType.find(';', at);
      value = rt::TrimView(contentType.substr(at, end == std::string_view::npos ? end : end - at));
      at = end;
    }
    if (rt::SameText(name, "charset")) return rt::CharsetOfLabel(value);
  }
  return std::nullopt;
}

}  // namespace

std::optional<rt::Charset> ContentTypeCharset(std::string_view contentType) {
  // A site says the same in every answer: the last value read is not read again.
  thread_local std::string lastValue;
  thread_local std::optional<rt::Charset> lastCharset;
  if (contentType != lastValue) {
    lastCharset = ReadContentTypeCharset(contentType);
    lastValue = contentType;
  }
  return lastCharset;
}

std::optional<rt::Charset> PrescanCharset(std::string_view page) {
  const std::string_view text = page.substr(0, kPrescanBytes);
  const std::size_t size = text.size();
  for (std::size_t at = 0; at < size; ++at) {
    if (text[at] != '<') continue;
    if (StartsAt(text, at, "<!--")) {
      // "<!-->" ends where it starts: the dashes of the opening count for the close.
      const std::size_t close = text.find("-->", at + 2);
      if (close == std::string_view::npos) return std::nullopt;
      at = close + 2;
    } else if (StartsAt(text, at, "<meta") && at + 5 < size &&
               (IsWhiteSpace(text[at + 5]) || text[at + 5] == '/')) {
      at += 5;
      if (auto charset = MetaCharset(text, at)) return charset;
    } else if (at + 1 < size &&
               (IsAsciiLetter(text[at + 1]) ||
                (text[at + 1] == '/' && at + 2 < size && IsAsciiLetter(text[at + 2])))) {
      while (at < size && !IsWhiteSpace(text[at]) && text[at] != '>') ++at;
      Attribute ignored;
      while (NextAttribute(text, at, ignored)) {
      }
    } else if (StartsAt(text, at, "<!") || StartsAt(text, at, "</") || StartsAt(text, at, "<?")) {
      const std::size_t close = text.find('>', at + 1);
      if (close == std::string_view::npos) return std::nullopt;
      at = close;
    }
  }
  return std::nullopt;
}

rt::Charset PageCharset(std::string_view page, std::string_view contentType) {
  if (page.substr(0, 3) == "\xEF\xBB\xBF") return rt::Utf8Charset();
  if (page.substr(0, 2) == "\xFE\xFF") return *rt::CharsetOfLabel("utf-16be");
  if (page.substr(0, 2) == "\xFF\xFE") return *rt::CharsetOfLabel("utf-16le");
  if (auto charset = ContentTypeCharset(contentType)) return *charset;
  if (auto charset = PrescanCharset(page)) return *charset;
  return rt::LooksLikeUtf8(page) ? rt::Utf8Charset() : rt::Windows1252Charset();
}

}  // namespace app
