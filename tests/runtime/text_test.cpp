#include "runtime/Text.h"

#include <gtest/gtest.h>

#include "runtime/Exception.h"
#include "tests/support/Failures.h"

namespace {

TEST(SplitAt, ReturnsTheTextBeforeTheDelimiterAndKeepsTheRestWhenRemoving) {
  struct Case {
    std::string text, delimiter;
    bool remove, matchCase;
    std::string before, rest;
  };
  for (const Case& c : std::vector<Case>{
           {"host:8080:x", ":", true, true, "host", "8080:x"},
           // Without the delimiter: the whole text, which is emptied when removing.
           {"no-delimiter", "/", true, true, "no-delimiter", ""},
           {"no-delimiter", "/", false, true, "no-delimiter", "no-delimiter"},
           {"abc", "", true, true, "abc", ""},  // an empty delimiter never occurs
           {"a=b", "=", false, true, "a", "a=b"},
           // Without matchCase both are upper-cased for the search; the bytes stay as they were.
           {"Content-TYPE: text", "-type", true, false, "Content", ": text"},
           {"Content-TYPE: text", "-type", true, true, "Content-TYPE: text", ""},
       }) {
    std::string text = c.text;
    EXPECT_EQ(SplitAt(text, c.delimiter, c.remove, c.matchCase), c.before) << c.text;
    EXPECT_EQ(text, c.rest) << c.text;
  }
}

TEST(FirstPos, IsOneBasedAndZeroWhenAbsentOrEmpty) {
  EXPECT_EQ(FirstPos("a", "abca"), 1u);
  EXPECT_EQ(FirstPos("ca", "abca"), 3u);
  EXPECT_EQ(FirstPos("A", "abca"), 0u);  // exact bytes
  EXPECT_EQ(FirstPos("", "abc"), 0u);
  EXPECT_EQ(FirstPos("abcd", "abc"), 0u);
}

TEST(LastPos, SearchesBackwardsIgnoringCase) {
  EXPECT_EQ(LastPos("/", "/a/b/c"), 5u);
  EXPECT_EQ(LastPos("B", "abab"), 4u);
  EXPECT_EQ(LastPos("x", "abab"), 0u);
  EXPECT_EQ(LastPos("", "abab"), 0u);
}

TEST(LastPos, StartIsClampedToLastPossiblePosition) {
  // "ab" can start at most at position 3 of "abab".
  EXPECT_EQ(LastPos("ab", "abab", 100), 3u);
  EXPECT_EQ(LastPos("ab", "abab", 2), 1u);
  EXPECT_EQ(LastPos("ab", "abab", 1), 1u);
  EXPECT_EQ(LastPos("ab", "abab", 0), 0u);
  EXPECT_EQ(LastPos("ab", "abab", -1), 3u);
}

TEST(Trim, RemovesCodes00To20OnlyAtBothEnds) {
  EXPECT_EQ(rt::Trim(std::string("\x01\t a b \r\n\x20", 9)), "a b");
  EXPECT_EQ(rt::Trim(std::string("\0x\0", 3)), "x");
  EXPECT_EQ(rt::Trim("\xA0x\xA0"), "\xA0x\xA0");  // no-break space stays
  EXPECT_EQ(rt::Trim("   "), "");
  EXPECT_EQ(rt::TrimLeft("  a "), "a ");
  EXPECT_EQ(rt::TrimRight("  a "), "  a");
}

TEST(Case, ChangesOnlyAsciiLetters) {
  EXPECT_EQ(rt::LowerCase("AbC\xC9\xD1z"), "abc\xC9\xD1z");
  EXPECT_EQ(rt::UpperCase("abc\xE9\xF1Z"), "ABC\xE9\xF1Z");
  EXPECT_TRUE(rt::SameText("Content-Length", "CONTENT-length"));
  EXPECT_FALSE(rt::SameText("\xE9", "\xC9"));
  EXPECT_LT(rt::CompareText("abc", "ABD"), 0);
  EXPECT_EQ(rt::CompareText("abc", "ABC"), 0);
}

TEST(ReplaceAll, ReplacesEveryOccurrenceLeftToRight) {
  EXPECT_EQ(rt::ReplaceAll("a b  c", " ", "-"), "a-b--c");
  EXPECT_EQ(rt::ReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(rt::ReplaceAll("x&X", "x", "y", true), "y&y");
  EXPECT_EQ(rt::ReplaceAll("abc", "", "z"), "abc");
  EXPECT_EQ(rt::ReplaceAll("", "a", "z"), "");
}

TEST(StrToInt, ReadsDecimalSignsAndHexadecimal) {
  EXPECT_EQ(rt::StrToInt("42"), 42);
  EXPECT_EQ(rt::StrToInt("  -17"), -17);
  EXPECT_EQ(rt::StrToInt("+5"), 5);
  EXPECT_EQ(rt::StrToInt("$FF"), 255);
  EXPECT_EQ(rt::StrToInt("0x10"), 16);
  EXPECT_EQ(rt::StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(rt::StrToInt64("4294967295"), 4294967295LL);
  EXPECT_EQ(rt::StrToInt64("-9223372036854775808"), INT64_MIN);
}

TEST(StrToInt, RejectsMalformedAndOutOfRangeWithStandardText) {
  for (const char* bad : {"", " ", "12a", "1 ", "$", "-", "2147483648", "$G", "1.5"})
    EXPECT_EQ(test::MessageOf<EConvertError>([&] { rt::StrToInt(bad); }),
              std::string("'") + bad + "' is not a valid integer value");
  EXPECT_THROW(rt::StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_EQ(rt::StrToIntDef("x", -1), -1);
}

TEST(ExceptionBase, EveryFailureCarriesItsMessage) {
  EConvertError e("bad");
  const Exception& base = e;
  EXPECT_STREQ(base.what(), "bad");
}

TEST(Win1252, AsciiPassesAndHighBytesBecomeUtf8) {
  EXPECT_EQ(rt::Win1252ToUtf8("abc"), "abc");
  EXPECT_EQ(rt::Win1252ToUtf8("Can\xE7\xE3o"), "Can\xC3\xA7\xC3\xA3o");
  EXPECT_EQ(rt::Win1252ToUtf8("\x80"), "\xE2\x82\xAC");  // euro sign
  EXPECT_EQ(rt::Win1252ToUtf8("\x9F"), "\xC5\xB8");      // Y with diaeresis
  EXPECT_EQ(rt::Win1252ToUtf8("\xBA"), "\xC2\xBA");      // masculine ordinal
  EXPECT_EQ(rt::Win1252ToUtf8("\x81\x8D\x8F\x90\x9D"),   // undefined: C1 code points
            "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
}

TEST(Win1252, AllCodesRoundTripThroughUtf8) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(char(c));
  std::string utf8 = rt::Win1252ToUtf8(all);
  EXPECT_EQ(rt::Utf8ToWin1252(utf8), all);
  EXPECT_EQ(rt::Utf8ToWin1252("\xE4\xB8\xAD"), "?");  // no Windows-1252 code
  EXPECT_EQ(rt::Utf8ToWin1252("\xC3"), "?");          // truncated sequence
}

}  // namespace
