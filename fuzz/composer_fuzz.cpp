// The composer lookup's pure parts: page names and addresses from a performer and a title, and
// the composer cut out of a page in any character set, with references and markup. A page
// name, made in one pass over the bytes, equals the rule taken step by step with the folding
// functions. A composer is always text a Windows-1252 column can hold as it is read.
//
// Input parts: the page, a performer, a title, the answer's Content-Type.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/ComposerLookup.h"
#include "app/U_Funcoes.h"
#include "fuzz/FuzzInput.h"
#include "runtime/Text.h"

namespace {

// A byte Windows-1252 leaves undefined, or a control character: never part of a composer.
bool IsUnfitByte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b < 0x20 || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
}

// The start marker as the page may write it: in an ASCII-compatible set or in UTF-16.
bool HasMarker(const std::string& page) {
  std::string little, big;
  for (char c : app::kComposerStartMarker) {
    little += {c, '\0'};
    big += {'\0', c};
  }
  return page.find(app::kComposerStartMarker) != std::string::npos ||
         page.find(little) != std::string::npos || page.find(big) != std::string::npos;
}

bool IsTrimmed(const std::string& text) {
  return text.empty() || (static_cast<unsigned char>(text.front()) > 0x20 &&
                          static_cast<unsigned char>(text.back()) > 0x20);
}

// The page name's rule: unsafe characters to blanks, accents folded, trimmed, A-Z lower-cased,
// blanks to "-", "&" to "e".
std::string PageNameBySteps(const std::string& text) {
  std::string name = rt::LowerCase(rt::Trim(FoldAccents(ReplaceUnsafeChars(text))));
  name = rt::ReplaceAll(name, " ", "-", true);
  return rt::ReplaceAll(name, "&", "e", true);
}

void CheckPageName(const std::string& text) {
  const std::string name = app::PageName(text);
  fuzz::Check(name == PageNameBySteps(text), "the page name follows the rule step by step", name);
  fuzz::Check(name.size() <= text.size(), "a page name is never longer than its text", name);
  for (char c : name) {
    fuzz::Check(!(c >= 'A' && c <= 'Z'), "a page name is lower case", name);
    fuzz::Check(c != ' ' && c != '&', "a page name has no blank and no &", name);
    for (char unsafe : std::string("\\/:*?\"<>|"))
      fuzz::Check(c != unsafe, "a page name has no character a file name may not hold", name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::FuzzInput input(data, size);
  const std::string page = input.Next();
  const std::string performer = input.Next();
  const std::string title = input.Next();
  const std::string contentType = input.Next();

  const std::string composer = app::ExtractComposer(page, contentType);
  fuzz::Check(composer.size() <= app::kComposerMaxLength, "a composer fits the column", composer);
  fuzz::Check(IsTrimmed(composer), "a composer is trimmed", composer);
  for (char c : composer)
    fuzz::Check(!IsUnfitByte(c), "a composer is Windows-1252 text without controls", composer);
  fuzz::Check(composer.find("  ") == std::string::npos, "white space runs are one blank", composer);
  if (!HasMarker(page)) fuzz::Check(composer.empty(), "no composer without the marker", composer);

  CheckPageName(performer);
  CheckPageName(title);
  const std::string base(app::kLyricsBaseAddress);
  for (std::size_t attempt = 0; attempt < app::kPageSuffixes.size(); ++attempt) {
    const std::string address = app::PageAddress(base, performer, title, attempt);
    fuzz::Check(address.compare(0, base.size(), base) == 0, "an address starts at the base");
    // Performer and title add exactly one directory level, whatever they hold.
    const std::string rest = address.substr(base.size());
    fuzz::Check(rest.find('/') == rest.rfind('/') && rest.find('/') != std::string::npos,
                "one separator between performer and title", rest);
  }
  return 0;
}
