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

// ASCII text as UTF-16LE bytes, with its byte order mark.
std::string Utf16Le(std::string_view ascii) {
  std::string bytes = "\xFF\xFE";
  for (const char c : ascii) bytes.append({c, '\0'});
  return bytes;
}

TEST(ExtractComposer, GivesTheComposerAsThePageShowsItInWindows1252) {
  const std::string utf8 = "text/html; charset=utf-8";
  std::string eacutes, letters;
  for (int i = 0; i < 30; ++i) eacutes += "&eacute;";
  for (int i = 0; i < 30; ++i) letters += char('a' + i % 26);
  struct Case {
    std::string contentType, page, row;
  };
  for (const Case& c : std::vector<Case>{
           // The character set: header (any case, quoted or not), byte order mark, <meta>,
           // undeclared UTF-8, undeclared single bytes.
           {utf8,
            "<p>Compositor: Ant\xC3\xB4nio Carlos Jobim &amp; Vin\xC3\xAD"
            "cius de Moraes</p>",
            "Ant\xF4nio Carlos Jobim & Vin\xED"
            "cius de Moraes"},
           {"text/html;CHARSET=\"UTF-8\"", "Compositor: Jo\xC3\xA3o</p>", "Jo\xE3o"},
           {"",
            "\xEF\xBB\xBF"
            "Compositor: Jo\xC3\xA3o</p>",
            "Jo\xE3o"},
           {"", Utf16Le("Compositor: Ana</p>"), "Ana"},
           {"", "<meta charset=\"utf-8\"><p>Compositor: Jo\xC3\xA3o</p>", "Jo\xE3o"},
           {"",
            "<META HTTP-EQUIV=Content-Type CONTENT='text/html; charset=ISO-8859-15'>"
            "Compositor: Ana \xA4</p>",
            "Ana \x80"},
           // A content without the http-equiv, or a <meta> inside a comment, declares nothing.
           {"", "<meta content=\"text/html; charset=windows-1250\">Compositor: Jo\xE3o</p>",
            "Jo\xE3o"},
           {"", "<!-- <meta charset=utf-8> -->Compositor: Jo\xE3o</p>", "Jo\xE3o"},
           {"", std::string(1100, ' ') + "<meta charset=windows-1250>Compositor: Dvo\xF8\xE1k</p>",
            "Dvo\xF8\xE1k"},
           {"", "Compositor: Jo\xC3\xA3o</p>", "Jo\xE3o"},
           {"", "Compositor: Jo\xE3o Caf\xE9</p>", "Jo\xE3o Caf\xE9"},
           {"text/html; charset=windows-1250", "Compositor: Anton\xEDn Dvo\xF8\xE1k</p>",
            "Anton\xEDn Dvor\xE1k"},
           // The header wins over the <meta>; a label nobody knows counts as none.
           {"text/html; charset=windows-1252", "<meta charset=utf-8>Compositor: Jo\xC3\xA3o</p>",
            "Jo\xC3\xA3o"},
           {"text/html; charset=klingon", "<meta charset=utf-8>Compositor: Jo\xC3\xA3o</p>",
            "Jo\xE3o"},
           {utf8, "Compositor: Jo\xE3o</p>", "Jo?o"},  // not UTF-8 after all
           {"text/html; charset=iso-2022-kr", "Compositor: Ana</p>", ""},
           // References: named, legacy without ";", decimal, hexadecimal, 80-9F, invalid,
           // unknown.
           {"", "Compositor: Jo&atilde;o Bosco &#38; Aldir Blanc</p>",
            "Jo\xE3o Bosco & Aldir Blanc"},
           {"", "Compositor: Jos&eacute &ampx &notit; &AMP;</p>", "Jos\xE9 &x \xACit; &"},
           {"", "Compositor: &#233;&#xE9;&#XE9 &#150; &#x80;</p>", "\xE9\xE9\xE9 \x96 \x80"},
           {"", "Compositor: a&#0;b&#xD800;c&#x110000;d&#99999999999;</p>", "a?b?c?d?"},
           {"", "Compositor: &#; &#x; &foo; & b</p>", "&#; &#x; &foo; & b"},
           {"", "Compositor: Dvo&#x159;&aacute;k &rcaron;</p>", "Dvor\xE1k r"},
           // Markup: a link, <br>, comments, a ">" inside a quoted attribute, an element of its
           // own line, an escaped "<".
           {"", "Compositor: <a href=\"/compositor/tom-jobim\">Tom Jobim</a></p>", "Tom Jobim"},
           {"", "Compositor: Ana<br>Reis<br/>e<BR >Bia</p>", "Ana Reis e Bia"},
           {"", "Compositor: <span title=\"a>b\">Ana</span><!-- x -->Reis<div>Bia</div></p>",
            "AnaReis Bia"},
           {"", "Compositor: &lt;b&gt;Ana</p>", "<b>Ana"},
           // White space: &nbsp;, line breaks and tabs make one blank; invisible characters go.
           {"", "Compositor:&nbsp;Ana&nbsp;\r\n\t Reis \xA0</p>", "Ana Reis"},
           {"", "Compositor: An&shy;a&#8203; Reis</p>", "Ana Reis"},
           // The label: its letters, blanks and one colon, also after its markup.
           {"", "<p>Compositores: Ana Reis / Bia Lopes</p>", "Ana Reis / Bia Lopes"},
           {"", "<p>Compositora : Ana</p>", "Ana"},
           {"", "<p>Compositor Ana</p>", "Ana"},
           {"", "<p><b>Compositor:</b> Ana</p>", "Ana"},
           {"", "Compositor</p><p>Letra</p>", ""},
           {"", "<p>compositor: Ana Reis</p>", ""},
           {"", "<p>Compositor: Ana Reis", ""},
           {"", "Compositor", ""},
           {"", "", ""},
           // Cut to 45 characters after decoding, and trimmed again.
           {"", "Compositor: " + eacutes + letters + "</p>",
            std::string(30, '\xE9') + letters.substr(0, 15)},
           {"", "Compositor: " + std::string(44, 'a') + " b</p>", std::string(44, 'a')},
           // Only the span's first bytes are read.
           {"", "Compositor: Ana<!--" + std::string(app::kComposerSpanLimit, '-') + "-->Reis</p>",
            "Ana"},
           // Characters Windows-1252 lacks: the letter without its mark, else "?".
           {utf8,
            "Compositor: \xC5\x98\xC3\xADha \xC5\x91 \xC8\x99 Stanis\xC5\x82"
            "aw \xF0\x9F\x8E\xB5</p>",
            "R\xEDha o s Stanislaw ?"},
           {utf8, "Compositor: Jose\xCC\x81 Ru\xCC\x8Cz\xE2\x80\x90Lima</p>", "Jos\xE9 Ruz-Lima"},
           // The first marker counts; a NUL is white space.
           {"", std::string("x\0y Compositor: A\0B</p> Compositor: C</p>", 41), "A B"},
       })
    EXPECT_EQ(app::ExtractComposer(c.page, c.contentType), c.row)
        << c.contentType << " | " << c.page;
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
