// The composer lookup's pure parts: page names and addresses built from a performer and a
// title, and the composer cut out of a page as its reader sees it, in Windows-1252. The
// fetching itself belongs to the main window, whose HTTP client it uses.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace app {

// The lyrics site's base address; LIRENTA_LYRICS_URL, when set and not empty, replaces it so
// that tests, the demo and users whose site moved can point the program elsewhere.
inline constexpr std::string_view kLyricsBaseAddress = "http://www.letras-de-musicas.com.br/";
inline constexpr const char* kLyricsAddressVariable = "LIRENTA_LYRICS_URL";

// Page suffixes in the order tried: the plain page, the chords page, the translation page.
inline constexpr std::array<std::string_view, 3> kPageSuffixes = {"", "-cifrada", "-traducao"};
inline constexpr std::string_view kPageExtension = ".html";
inline constexpr std::string_view kPathSeparator = "/";

// The composer stands after the label that starts with this word ("Compositor:",
// "Compositores:", "<b>Compositora</b>:") and before the end marker that follows it.
inline constexpr std::string_view kComposerStartMarker = "Compositor";
inline constexpr std::string_view kComposerEndMarker = "</p>";
// The size of the MUS_COMPOSITOR column.
inline constexpr std::size_t kComposerMaxLength = 45;
// Bytes of the span read at most: the composer is the first 45 characters a reader sees there,
// which no page hides behind this much markup, and a page of many megabytes with its end marker
// at the end must not make the lookup hold its span decoded, four bytes a character.
inline constexpr std::size_t kComposerSpanLimit = 64 * 1024;

// The base address in force: the environment's replacement or the built-in one.
std::string LyricsBaseAddress();

// A performer's or title's page name: unsafe characters to blanks, accents folded, trimmed,
// A-Z lower-cased, blanks to "-", "&" to "e".
std::string PageName(const std::string& text);

// Address of attempt `attempt` (0, 1, 2) for a performer and a title.
std::string PageAddress(const std::string& base, const std::string& performer,
                        const std::string& title, std::size_t attempt);
// The same from the page names of the performer and the title, so that a lookup that tries
// several addresses makes the names once.
std::string PageAddressOfNames(std::string_view base, std::string_view performerName,
                               std::string_view titleName, std::size_t attempt);

// The composer on a page whose answer had the Content-Type `contentType`: the span from the
// first start marker to the end marker after it, read in the page's character set
// (app/PageEncoding.h); the label's letters, blanks and one colon dropped; its references and
// markup made text (app/HtmlText.h) and its white space runs made one blank; written in
// Windows-1252 (runtime/CodePoints.h); trimmed, cut to 45 characters and trimmed again. Empty
// when a marker is missing. Only the span is decoded, never the whole page.
std::string ExtractComposer(std::string_view page, std::string_view contentType = {});

}  // namespace app
