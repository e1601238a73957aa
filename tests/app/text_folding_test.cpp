#include <gtest/gtest.h>

#include "app/U_Funcoes.h"

namespace {

TEST(ReplaceUnsafeChars, TurnsEachOfTheNineCharactersIntoABlank) {
  EXPECT_EQ(ReplaceUnsafeChars("\\/:*?\"<>|"), std::string(9, ' '));
  EXPECT_EQ(ReplaceUnsafeChars("AC/DC"), "AC DC");
  EXPECT_EQ(ReplaceUnsafeChars("Quem?"), "Quem ");
}

TEST(ReplaceUnsafeChars, LeavesEveryOtherByteAlone) {
  std::string others;
  for (int c = 0; c < 256; ++c)
    if (std::string("\\/:*?\"<>|").find(char(c)) == std::string::npos) others.push_back(char(c));
  EXPECT_EQ(ReplaceUnsafeChars(others), others);
  EXPECT_EQ(ReplaceUnsafeChars("It's (a), b.c & #1"), "It's (a), b.c & #1");
  EXPECT_EQ(ReplaceUnsafeChars(""), "");
}

TEST(FoldAccents, FoldsThePortugueseLettersKeepingCase) {
  EXPECT_EQ(FoldAccents("Can\xE7\xE3o"), "Cancao");  // Canção
  EXPECT_EQ(FoldAccents("\xC9RAMOS"), "ERAMOS");     // ÉRAMOS
  EXPECT_EQ(FoldAccents("N\xBA"), "No");             // Nº
  EXPECT_EQ(FoldAccents(""), "");
}

TEST(FoldAccents, MapsExactlyTheTwentyEightCodes) {
  const std::string from =
      "\xE0\xE2\xE1\xE3\xC3\xC1\xC2\xC0\xE9\xEA\xCA\xC9\xED\xCD\xF5\xF4\xF3\xD5\xD3\xD4\xFA\xFC"
      "\xDA\xDC\xE7\xC7\xBA\xAA";
  const std::string to = "aaaaAAAAeeEEiIoooOOOuuUUcCoa";
  ASSERT_EQ(from.size(), 28u);
  EXPECT_EQ(FoldAccents(from), to);
  std::string rest;
  for (int c = 0; c < 256; ++c)
    if (from.find(char(c)) == std::string::npos) rest.push_back(char(c));
  EXPECT_EQ(FoldAccents(rest), rest);
}

TEST(FoldAccents, LeavesOtherAccentedLettersUnfolded) {
  // è ì ò ù ä ë ï ö ñ Ñ È Ì Ò Ù Ä Ë Ï Ö ÿ
  const std::string untouched =
      "\xE8\xEC\xF2\xF9\xE4\xEB\xEF\xF6\xF1\xD1\xC8\xCC\xD2\xD9\xC4\xCB\xCF\xD6\xFF";
  EXPECT_EQ(FoldAccents(untouched), untouched);
}

TEST(TextFolding, ResultAlwaysHasTheInputsLength) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(char(c));
  EXPECT_EQ(FoldAccents(ReplaceUnsafeChars(all)).size(), 256u);
}

}  // namespace
