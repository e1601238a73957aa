// What a code point is to the reader of a text, and how text is written in Windows-1252 so that
// it reads as it did.
//
// The kinds come from the Unicode character database (runtime/CodePointTables.inc, written by
// scripts/make-text-tables.py): white space is every space separator, line and paragraph
// separator and control character; invisible characters are the format characters (soft hyphen,
// zero-width space, direction marks); marks are the combining marks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

enum class CodePointKind : uint8_t { Character, WhiteSpace, Invisible, Mark, Dash };

// Dash is only reported for the dashes Windows-1252 lacks.
CodePointKind KindOfCodePoint(char32_t cp);

// `text` in Windows-1252 as a reader sees it: every run of white space becomes one blank,
// invisible characters are dropped, a combining mark joins the letter before it when
// Windows-1252 holds the pair as one character and is dropped otherwise, a dash Windows-1252
// lacks becomes "-", a letter it lacks becomes that letter without its marks (r for r with
// caron, l for l with stroke), and any other character it lacks becomes "?". One character of
// the result per character read; nothing is trimmed. Does not depend on the locale. Appended to
// `out`.
void AppendAsWin1252(std::u32string_view text, std::string& out);

}  // namespace rt
