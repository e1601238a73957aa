// Byte-string text helpers. Text is Windows-1252 bytes; positions count from 1 where the
// system's own helpers say so (SplitAt, FirstPos, LastPos), and searching compares bytes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// Returns the part of `text` before the first occurrence of `delimiter`. With `remove`, `text`
// becomes the part after the delimiter. Without `matchCase`, both are upper-cased (A-Z only)
// for the search. When the delimiter does not occur, the whole text is returned and, with
// `remove`, `text` becomes empty. An empty delimiter never occurs.
std::string SplitAt(std::string& text, std::string_view delimiter, bool remove = true,
                    bool matchCase = true);

// 1-based position of the first exact occurrence of `sub` in `text`; 0 when absent or when
// `sub` is empty.
std::size_t FirstPos(std::string_view sub, std::string_view text);

// Searches `text` backwards for `sub`, ignoring letter case (A-Z). The search starts at the
// smaller of `start` and length(text) - length(sub) + 1 (`start` -1 means the end of text) and
// moves toward position 1. Returns the 1-based position, or 0.
std::size_t LastPos(std::string_view sub, std::string_view text, long long start = -1);

namespace rt {

// Removes the characters with codes 00-20 at both ends.
std::string Trim(std::string_view text);
// The same, as a view into `text`: nothing is copied.
std::string_view TrimView(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// Changes only the letters A-Z (or a-z); every other byte stays.
std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
inline char LowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}
inline char UpperChar(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}

// Compares without regard to the letter case of A-Z.
bool SameText(std::string_view a, std::string_view b);
// <0, 0, >0 like strcmp, without regard to the letter case of A-Z.
int CompareText(std::string_view a, std::string_view b);

// Replaces every occurrence of `from` (not overlapping, left to right) by `to`. With
// `ignoreCase`, occurrences are found without regard to the letter case of A-Z.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to,
                       bool ignoreCase = false);

bool StartsText(std::string_view prefix, std::string_view text);  // ignores case
bool EndsText(std::string_view suffix, std::string_view text);    // ignores case

// Standard integer conversion: optional blanks in front, an optional sign, decimal digits or a
// hexadecimal number after "$" or "0x". Anything else, or a value out of range, raises
// EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view text);
int64_t StrToInt64(std::string_view text);
// As StrToInt, but returns `fallback` instead of raising.
int32_t StrToIntDef(std::string_view text, int32_t fallback);
int64_t StrToInt64Def(std::string_view text, int64_t fallback);
// Reads the number as StrToInt64 does; false instead of raising.
bool TryStrToInt64(std::string_view text, int64_t& value);

std::string IntToStr(int64_t value);

// `pattern` with each "%s" in turn replaced by the next of `values`; a "%s" beyond them stays.
std::string FillIn(std::string_view pattern, std::initializer_list<std::string_view> values);

// Windows-1252 <-> UTF-8. The five codes Windows-1252 leaves undefined (81, 8D, 8F, 90, 9D)
// map to the C1 control characters of the same number, so every byte round-trips.
std::string Win1252ToUtf8(std::string_view text);
// Characters without a Windows-1252 code become "?"; malformed UTF-8 bytes become "?".
std::string Utf8ToWin1252(std::string_view text);
// One character: the code point of a byte, and the byte of a code point (-1 when Windows-1252
// has none), with the same five C1 controls.
char32_t Win1252CodePoint(char byte);
int Win1252Byte(char32_t cp);

}  // namespace rt
