#include <gtest/gtest.h>

#include <cstdlib>

#include "app/ComposerLookup.h"

namespace {

const std::string B = "http://letras.test/";

TEST(PageAddress, FollowsThePageNameRules) {
  EXPECT_EQ(app::PageAddress(B, "Trio Flor & Caf\xE9", "Can\xE7\xE3o do Mar", 0),
            B + "trio-flor-e-cafe/cancao-do-mar.html");
  EXPECT_EQ(app::PageAddress(B, "AC/DC", "Quem?", 0), B + "ac-dc/quem.html");
  EXPECT_EQ(app::PageAddress(B, "  Ney  Lopes ", "N\xBA 1", 0), B + "ney--lopes/no-1.html");
  // N with tilde is neither folded nor lower-cased.
  EXPECT_EQ(app::PageAddress(B,
                             "\xD1"
                             "andu",
                             "\xC9"
                             "bano",
                             0),
            B + "\xD1"
                "andu/ebano.html");
  EXPECT_EQ(app::PageAddress(B, "", "", 0), B + "/.html");
}

TEST(PageAddress, TriesTheChordAndTranslationPagesNext) {
  EXPECT_EQ(app::PageAddress(B, "Trio Flor & Caf\xE9", "Can\xE7\xE3o do Mar", 1),
            B + "trio-flor-e-cafe/cancao-do-mar-cifrada.html");
  EXPECT_EQ(app::PageAddress(B, "Trio Flor & Caf\xE9", "Can\xE7\xE3o do Mar", 2),
            B + "trio-flor-e-cafe/cancao-do-mar-traducao.html");
}

TEST(PageName, AmpersandBetweenBlanksBecomesHyphenEHyphen) {
  EXPECT_EQ(app::PageName("A & B"), "a-e-b");
  EXPECT_EQ(app::PageName("A&B"), "aeb");
}

TEST(PageName, NoBreakSpaceIsNeitherTrimmedNorHyphenated) {
  EXPECT_EQ(app::PageName("\xA0Zeca\xA0Pagode\xA0"), "\xA0zeca\xA0pagode\xA0");
  EXPECT_EQ(app::PageName("\t Zeca \r\n"), "zeca");
}

TEST(PageName, BytesOutsideTheRulesPassUnchanged) {
  // "%", quotes and semicolons are not file-name-unsafe: they stay as they are.
  EXPECT_EQ(app::PageName("50% 'Dela';"), "50%-'dela';");
}

TEST(ExtractComposer, CutsBetweenTheMarkers) {
  EXPECT_EQ(app::ExtractComposer("<p>Compositor: Ana Reis</p>"), "Ana Reis");
  EXPECT_EQ(app::ExtractComposer("<p>Compositores: Ana Reis</p>"), "s: Ana Reis");
  EXPECT_EQ(app::ExtractComposer("<p>compositor: Ana Reis</p>"), "");
  EXPECT_EQ(app::ExtractComposer("<p>Compositor: Ana Reis"), "");
  EXPECT_EQ(app::ExtractComposer(""), "");
}

TEST(ExtractComposer, SkipOfElevenCanLandInsideTheEndMarker) {
  EXPECT_EQ(app::ExtractComposer("Compositor</p><p>Letra</p>"), "/p><p>Letra");
}

TEST(ExtractComposer, CutsToFortyFiveCharactersBeforeTrimming) {
  std::string letters(60, 'x');
  for (int i = 0; i < 60; ++i) letters[std::size_t(i)] = char('a' + i % 26);
  std::string result = app::ExtractComposer("Compositor: " + letters + "</p>");
  EXPECT_EQ(result, letters.substr(0, 44));
}

TEST(ExtractComposer, MarkerAtTheVeryEndGivesEmpty) {
  EXPECT_EQ(app::ExtractComposer("Compositor"), "");
  EXPECT_EQ(app::ExtractComposer("Compositor:"), "");
  EXPECT_EQ(app::ExtractComposer("Compositor:</p>"), "");
}

TEST(ExtractComposer, KeepsTagsEntitiesAndInnerLineBreaks) {
  EXPECT_EQ(app::ExtractComposer("Compositor: <b>Z\xE9</b> &amp;\r\nLia </p>"),
            "<b>Z\xE9</b> &amp;\r\nLia");
  // A no-break space is not trimmed at either end.
  EXPECT_EQ(app::ExtractComposer("Compositor:\xA0"
                                 "Ana\xA0</p>"),
            "\xA0"
            "Ana\xA0");
}

TEST(ExtractComposer, FirstMarkerCountsAndBytesAfterANulAreSearched) {
  std::string page("x\0y Compositor: A\0B</p> Compositor: C</p>", 41);
  EXPECT_EQ(app::ExtractComposer(page), std::string("A\0B", 3));
}

TEST(LyricsBaseAddress, EnvironmentReplacesTheBuiltInAddress) {
  unsetenv(app::kLyricsAddressVariable);
  EXPECT_EQ(app::LyricsBaseAddress(), std::string(app::kLyricsBaseAddress));
  setenv(app::kLyricsAddressVariable, "", 1);
  EXPECT_EQ(app::LyricsBaseAddress(), std::string(app::kLyricsBaseAddress));
  setenv(app::kLyricsAddressVariable, "http://127.0.0.1:8080/", 1);
  EXPECT_EQ(app::LyricsBaseAddress(), "http://127.0.0.1:8080/");
  unsetenv(app::kLyricsAddressVariable);
}

}  // namespace
