// The character set a lyrics page is written in, found as a browser finds it: a byte order
// mark; else the charset parameter of the answer's Content-Type; else a <meta charset> or
// <meta http-equiv="Content-Type" content="...charset=..."> among the page's first bytes (the
// prescan browsers make, without parsing the page); else UTF-8 when the page is valid UTF-8
// holding at least one character of several bytes; else Windows-1252, the set the lyrics sites
// of old were written in. A label that names no known set counts as no label.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "runtime/Charset.h"

namespace app {

// How much of a page's head the prescan reads for a <meta> that names its set.
inline constexpr std::size_t kPrescanBytes = 1024;

// The set the charset parameter of a Content-Type value names (quoted or not, any case).
std::optional<rt::Charset> ContentTypeCharset(std::string_view contentType);
// The set a <meta> within the first kPrescanBytes of `page` declares. UTF-16 declared there
// reads as UTF-8: a page the prescan could read as ASCII is not in UTF-16.
std::optional<rt::Charset> PrescanCharset(std::string_view page);
// The page's set, in the order above.
rt::Charset PageCharset(std::string_view page, std::string_view contentType);

}  // namespace app
