#include <gtest/gtest.h>

#include <cstdlib>

#include "app/ComposerLookup.h"

namespace {

const std::string B = "http://letras.test/";

TEST(PageAddress, FollowsThePageNameRulesAndTriesTheChordAndTranslationPagesNext) {
  struct Case {
    std::string performer, title;
    std::size_t attempt;
    std::string address;
  };
  for (const Case& c : std::vector<Case>{
           {"Trio Flor & Caf\xE9", "Can\xE7\xE3o do Mar", 0, "trio-flor-e-cafe/cancao-do-mar.html"},
           {"Trio Flor & Caf\xE9", "Can\xE7\xE3o do Mar", 1,
            "trio-flor-e-cafe/cancao-do-mar-cifrada.html"},
           {"Trio Flor & Caf\xE9", "Can\xE7\xE3o do Mar", 2,
            "trio-flor-e-cafe/cancao-do-mar-traducao.html"},
           {"AC/DC", "Quem?", 0, "ac-dc/quem.html"},
           {"  Ney  Lopes ", "N\xBA 1", 0, "ney--lopes/no-1.html"},
           // N with tilde is neither folded nor lower-cased.
           {"\xD1"
            "andu",
            "\xC9"
            "bano",
            0,
            "\xD1"
            "andu/ebano.html"},
           {"", "", 0, "/.html"},
       })
    EXPECT_EQ(app::PageAddress(B, c.performer, c.title, c.attempt), B + c.address) << c.performer;
}

TEST(PageName, FoldsTrimsLowersAndHyphensOnlyWhatTheRulesName) {
  for (const auto& [text, name] : std::vector<std::pair<std::string, std::string>>{
           {"A & B", "a-e-b"},  // an ampersand between blanks becomes "-e-"
           {"A&B", "aeb"},
           // A no-break space is neither trimmed nor hyphenated.
           {"\xA0Zeca\xA0Pagode\xA0", "\xA0zeca\xA0pagode\xA0"},
           {"\t Zeca \r\n", "zeca"},
           // "%", quotes and semicolons are not file-name-unsafe: they stay as they are.
           {"50% 'Dela';", "50%-'dela';"},
       })
    EXPECT_EQ(app::PageName(text), name) << text;
}

TEST(ExtractComposer, CutsFromElevenAfterTheMarkerToTheEndMarkerThenToFortyFiveAndTrims) {
  std::string letters(60, 'x');
  for (int i = 0; i < 60; ++i) letters[std::size_t(i)] = char('a' + i % 26);
  for (const auto& [page, composer] : std::vector<std::pair<std::string, std::string>>{
           {"<p>Compositor: Ana Reis</p>", "Ana Reis"},
           {"<p>Compositores: Ana Reis</p>", "s: Ana Reis"},
           {"<p>compositor: Ana Reis</p>", ""},
           {"<p>Compositor: Ana Reis", ""},
           {"", ""},
           // The skip of eleven can land inside the end marker.
           {"Compositor</p><p>Letra</p>", "/p><p>Letra"},
           // Cut to forty-five characters before trimming.
           {"Compositor: " + letters + "</p>", letters.substr(0, 44)},
           // The marker at the very end.
           {"Compositor", ""},
           {"Compositor:", ""},
           {"Compositor:</p>", ""},
           // Tags, entities and inner line breaks are kept; a no-break space is not trimmed.
           {"Compositor: <b>Z\xE9</b> &amp;\r\nLia </p>", "<b>Z\xE9</b> &amp;\r\nLia"},
           {"Compositor:\xA0"
            "Ana\xA0</p>",
            "\xA0"
            "Ana\xA0"},
           // The first marker counts, and bytes after a NUL are searched.
           {std::string("x\0y Compositor: A\0B</p> Compositor: C</p>", 41), std::string("A\0B", 3)},
       })
    EXPECT_EQ(app::ExtractComposer(page), composer) << page;
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
