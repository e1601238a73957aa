#include "runtime/Charset.h"

#include <gtest/gtest.h>

namespace {

TEST(CharsetOfLabel, ReadsLabelsAsBrowsersDoAndFallsBackOnIconv) {
  struct Case {
    std::string label;
    std::optional<std::string> name;  // the set's name; nothing for a label refused
  };
  for (const Case& c : std::vector<Case>{
           {"utf-8", "utf-8"},
           {" UTF8\t", "utf-8"},
           {"latin1", "windows-1252"},
           {"ISO-8859-1", "windows-1252"},
           {"us-ascii", "windows-1252"},
           {"iso-8859-9", "windows-1254"},
           {"Shift_JIS", "shift_jis"},
           {"utf-16", "utf-16le"},
           {"iso-2022-kr", "replacement"},
           {"CP850", "cp850"},  // not a label of the web, but iconv knows it
           {"utf-8//TRANSLIT", std::nullopt},
           {"klingon", std::nullopt},
           {"", std::nullopt},
       }) {
    const std::optional<rt::Charset> charset = rt::CharsetOfLabel(c.label);
    EXPECT_EQ(charset ? std::optional(charset->name) : std::nullopt, c.name) << c.label;
  }
}

TEST(DecodeCharset, InvalidSequencesBecomeOneReplacementEach) {
  struct Case {
    std::string label, bytes;
    std::u32string text;
  };
  for (const Case& c : std::vector<Case>{
           {"utf-8", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5", U"a\u00E9\u20AC\U0001F3B5"},
           // A sequence broken off gives one U+FFFD, and the byte that broke it starts over.
           {"utf-8",
            "\xE2\x82"
            "a",
            U"\uFFFDa"},
           {"utf-8", "\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80",
            U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
           {"utf-8", "\xF0\x9F\x8E", U"\uFFFD"},
           {"windows-1252", "\x80\x81\xE9", U"\u20AC\u0081\u00E9"},
           {"windows-1250", "\x8A\xF8", U"\u0160\u0159"},
           {"utf-16be", std::string("\0A\xD8\x3C\xDF\xB5\xDC\x00", 8), U"A\U0001F3B5\uFFFD"},
           {"shift_jis",
            "\x82\xA0"
            "a\x82",
            U"\u3042a\uFFFD"},
           {"x-user-defined", "a\x80\xFF", U"a\uF780\uF7FF"},
       }) {
    std::u32string text;
    rt::DecodeCharset(*rt::CharsetOfLabel(c.label), c.bytes, text);
    EXPECT_EQ(text, c.text) << c.label << " " << c.bytes;
  }
}

TEST(LooksLikeUtf8, ValidWithACharacterOfSeveralBytes) {
  for (const auto& [bytes, utf8] : std::vector<std::pair<std::string, bool>>{
           {"plain ASCII text, long enough for a word at a time", false},
           {std::string(40, 'a') + "Jo\xC3\xA3o" + std::string(9, 'b'), true},
           {std::string(40, 'a') + "Jo\xE3o", false},
           {"\xED\xA0\x80", false},    // a surrogate
           {"ok \xF0\x9F\x8E", true},  // cut by the end of the bytes
           {"\xC3\xA3 then \xFF", false},
       })
    EXPECT_EQ(rt::LooksLikeUtf8(bytes), utf8) << bytes;
}

}  // namespace
