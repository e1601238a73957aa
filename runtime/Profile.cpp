#include "runtime/Profile.h"

#include <fstream>
#include <sstream>

#include "runtime/Text.h"

namespace rt {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view StripBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string Finish(std::string_view value) {
  value = StripBlanks(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  if (value.size() > kProfileValueLimit) value = value.substr(0, kProfileValueLimit);
  return std::string(value);
}

}  // namespace

std::string ReadProfileStringFromText(std::string_view text, std::string_view section,
                                      std::string_view key, std::string_view fallback) {
  bool inSection = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = StripBlanks(text.substr(pos, eol - pos));
    pos = eol + 1;
    if (line.empty()) continue;
    if (line.front() == '[') {
      std::size_t close = line.find(']');
      std::string_view name =
          line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
      inSection = SameText(StripBlanks(name), section);
      continue;
    }
    if (!inSection || line.front() == ';') continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (SameText(StripBlanks(line.substr(0, eq)), key)) return Finish(line.substr(eq + 1));
  }
  return Finish(fallback);
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Finish(fallback);
  std::ostringstream content;
  content << in.rdbuf();
  return ReadProfileStringFromText(content.str(), section, key, fallback);
}

}  // namespace rt
