// PageName makes a page name in one pass over the bytes. These cases hold it to the rule taken
// step by step with the folding functions (unsafe characters to blanks, accents folded, trimmed,
// A-Z lower-cased, blanks to "-", "&" to "e") for every byte, and PageAddressOfNames to
// PageAddress; the composer fuzz target holds it to the same rule over arbitrary texts.
#include <gtest/gtest.h>

#include <string>

#include "app/ComposerLookup.h"
#include "app/U_Funcoes.h"
#include "runtime/Text.h"

namespace {

std::string PageNameBySteps(const std::string& text) {
  std::string name = rt::LowerCase(rt::Trim(FoldAccents(ReplaceUnsafeChars(text))));
  name = rt::ReplaceAll(name, " ", "-", true);
  return rt::ReplaceAll(name, "&", "e", true);
}

TEST(PageNameSteps, EveryByteAloneAndBetweenLetters) {
  for (int c = 0; c < 256; ++c) {
    const std::string alone(1, char(c));
    EXPECT_EQ(app::PageName(alone), PageNameBySteps(alone)) << c;
    const std::string framed = "Ab" + alone + "Cd";
    EXPECT_EQ(app::PageName(framed), PageNameBySteps(framed)) << c;
    const std::string edged = alone + " x " + alone;
    EXPECT_EQ(app::PageName(edged), PageNameBySteps(edged)) << c;
  }
}

TEST(PageNameSteps, AddressOfNamesEqualsTheAddressOfTheTexts) {
  const std::string base = "http://letras.test/";
  const std::string performer = " Trio Flor & Caf\xE9 ", title = "AC/DC: Quem?";
  for (std::size_t attempt = 0; attempt < app::kPageSuffixes.size(); ++attempt)
    EXPECT_EQ(
        app::PageAddressOfNames(base, app::PageName(performer), app::PageName(title), attempt),
        app::PageAddress(base, performer, title, attempt))
        << attempt;
  EXPECT_THROW(app::PageAddressOfNames(base, "a", "b", app::kPageSuffixes.size()),
               std::out_of_range);
}

}  // namespace
