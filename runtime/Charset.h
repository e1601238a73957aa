// Character sets text may arrive in, as the web names them, and the decoding of their bytes
// into code points.
//
// A label ("utf-8", "Latin1", "ISO_8859-15") is read as browsers read it: ASCII white space
// around it is dropped, letter case does not count, and the labels of the web's list name the
// set that list gives them (latin1, iso-8859-1 and us-ascii all name windows-1252). Any other
// label that glibc's iconv knows names the set iconv knows by it. UTF-8 and Windows-1252 are
// decoded here; every other set goes through iconv, whose conversions do not depend on the
// locale. A byte sequence that is not valid in its set decodes to U+FFFD.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rt {

struct Charset {
  enum class Kind {
    Utf8,
    Windows1252,
    Iconv,        // decoded through iconv by `iconvName`
    Replacement,  // sets that are never decoded (ISO-2022-KR and the like): all of it is U+FFFD
    UserDefined,  // bytes 80-FF to U+F780-U+F7FF
  };
  Kind kind = Kind::Windows1252;
  // The web's name of the set, or the label iconv knew, and the name iconv knows it by; both
  // live as long as the program.
  std::string_view name;
  std::string_view iconvName;  // for Kind::Iconv

  // UTF-16: the markup's ASCII characters take two bytes each.
  bool TwoByteUnits() const { return iconvName == "UTF-16LE" || iconvName == "UTF-16BE"; }
};

Charset Utf8Charset();
Charset Windows1252Charset();

// The set a label names; nothing for a label neither the web's list nor iconv knows.
std::optional<Charset> CharsetOfLabel(std::string_view label);

// Appends the code points of `bytes`, written in `charset`, to `out`.
void DecodeCharset(const Charset& charset, std::string_view bytes, std::u32string& out);

// Whether `bytes` are valid UTF-8 holding at least one character of more than one byte. A
// sequence cut by the end of `bytes` counts as valid: the text may have been cut short.
bool LooksLikeUtf8(std::string_view bytes);

}  // namespace rt
