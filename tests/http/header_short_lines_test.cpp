// Setting a header line writes what folding the line gives, whether the line is short enough to
// be written as it is or long enough to break: every line is compared with FoldLine's pieces.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "http/IdHeaderList.h"

namespace {

using Lines = std::vector<std::string>;

// The lines SetHeader must leave for `name` and `value` on an empty list of `width`.
Lines Folded(const std::string& name, const std::string& value, int width) {
  return idheaders::FoldLine(name + ": " + value, width);
}

Lines Set(const std::string& name, const std::string& value, int width) {
  TIdHeaderList list(width);
  list.SetHeader(name, value);
  return list.Lines();
}

TEST(HeaderShortLinesTest, LinesAroundTheWidthAreWrittenAsFoldingWritesThem) {
  for (int width : {10, 78, 1024}) {
    // "N: " is three characters: values of width - 5 to width - 1 make lines of width - 2 to
    // width + 2, the last short line, the one at the width and the first ones past it.
    for (int size = width - 5; size <= width - 1; ++size) {
      const std::string words = [&] {
        std::string text;
        while (int(text.size()) < size) text += text.size() % 7 == 6 ? ' ' : 'a';
        return text;
      }();
      for (const std::string& value : {words, std::string(std::size_t(size), 'b'), words + "   "})
        EXPECT_EQ(Set("N", value, width), Folded("N", value, width))
            << "width " << width << ", value '" << value << "'";
    }
  }
}

TEST(HeaderShortLinesTest, TrailingBlanksGoAndOtherTrailingCharactersStay) {
  EXPECT_EQ(Set("Accept", "text/html   ", 1024), (Lines{"Accept: text/html"}));
  EXPECT_EQ(Set("Accept", "   ", 1024), (Lines{"Accept:"}));
  EXPECT_EQ(Set("Accept", "a\t", 1024), (Lines{"Accept: a\t"}));
  EXPECT_EQ(Set("Accept", "a\t", 1024), Folded("Accept", "a\t", 1024));
  // A CR inside a short line still goes through folding, which breaks at CR LF + blank.
  EXPECT_EQ(Set("N", "a\r\n b", 1024), (Lines{"N: a", " b"}));
}

TEST(HeaderShortLinesTest, RandomLinesMatchFolding) {
  std::mt19937 random(20261208);
  const std::string alphabet = "ab ,\t\"\r\n;=";
  for (int round = 0; round < 20000; ++round) {
    const int width = std::vector<int>{8, 20, 78}[std::size_t(round % 3)];
    std::string value(std::size_t(random() % 100), ' ');
    for (char& c : value) c = alphabet[random() % alphabet.size()];
    if (value.empty()) continue;  // an empty value removes the line instead
    ASSERT_EQ(Set("N", value, width), Folded("N", value, width))
        << "width " << width << ", value '" << value << "'";
  }
}

}  // namespace
