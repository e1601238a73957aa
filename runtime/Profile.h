// Reading profile (INI) files: sections in square brackets, lines of key=value.
//
// The rules are those of the classic profile reader: section and key names match without
// regard to letter case, blanks around the value are dropped, a value enclosed in one pair of
// quotation marks (" or ') loses them, and at most kProfileValueLimit characters of a value
// are returned. A missing file, section or key gives the default.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rt {

// The classic reader fills a caller's buffer of 2,048 bytes, so 2,047 characters survive.
constexpr std::size_t kProfileValueLimit = 2047;

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback = "");

// Reads from text already in memory (used by the file reader and by tests and fuzzers).
std::string ReadProfileStringFromText(std::string_view text, std::string_view section,
                                      std::string_view key, std::string_view fallback = "");

}  // namespace rt
