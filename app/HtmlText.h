// The text a reader sees of a fragment of HTML: every character reference replaced as the HTML
// tokenizer replaces it in text, and the markup taken out.
//
// References: the named ones of the HTML standard's list (app/HtmlReferences.inc), the longest
// name that fits, the legacy names also without ";" ("&amp" and "&eacute" too); decimal and
// hexadecimal ones with or without ";"; 0, surrogates and numbers past U+10FFFF stand for
// U+FFFD, and 80-9F for the characters Windows-1252 has there. An "&" that starts no known
// reference stays as written.
//
// Markup: tags (with quoted attribute values that may hold ">"), comments, "<!...>" and "<?...>"
// are removed, one left open runs to the end. A <br>, and the tag of an element a browser shows
// on a line or in a cell of its own (<div>, <li>, <td> ...), stands for a blank, so that the
// words on either side do not run together. A "<" that starts no tag stays.
#pragma once

#include <string>
#include <string_view>

namespace app {

// Appends the text of `html` to `out`; white space is left as it is.
void AppendHtmlText(std::u32string_view html, std::u32string& out);

}  // namespace app
