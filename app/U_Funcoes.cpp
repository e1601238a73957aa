#include "app/U_Funcoes.h"

#include <array>

namespace {

struct Replacement {
  unsigned char from;
  char to;
};

// File-name-unsafe characters, in the order they are replaced.
constexpr std::array<Replacement, 9> kUnsafeChars = {{{0x5C, ' '},
                                                      {0x2F, ' '},
                                                      {0x3A, ' '},
                                                      {0x2A, ' '},
                                                      {0x3F, ' '},
                                                      {0x22, ' '},
                                                      {0x3C, ' '},
                                                      {0x3E, ' '},
                                                      {0x7C, ' '}}};

// Accented Windows-1252 letters and their plain forms, in the order they are replaced.
constexpr std::array<Replacement, 28> kAccents = {{
    {0xE0, 'a'}, {0xE2, 'a'}, {0xE1, 'a'}, {0xE3, 'a'}, {0xC3, 'A'}, {0xC1, 'A'}, {0xC2, 'A'},
    {0xC0, 'A'}, {0xE9, 'e'}, {0xEA, 'e'}, {0xCA, 'E'}, {0xC9, 'E'}, {0xED, 'i'}, {0xCD, 'I'},
    {0xF5, 'o'}, {0xF4, 'o'}, {0xF3, 'o'}, {0xD5, 'O'}, {0xD3, 'O'}, {0xD4, 'O'}, {0xFA, 'u'},
    {0xFC, 'u'}, {0xDA, 'U'}, {0xDC, 'U'}, {0xE7, 'c'}, {0xC7, 'C'}, {0xBA, 'o'}, {0xAA, 'a'},
}};

// No replacement yields a character that a later step looks for, so running the table step by
// step equals one pass through a byte map built from it.
template <std::size_t N>
std::array<char, 256> BuildMap(const std::array<Replacement, N>& table) {
  std::array<char, 256> map{};
  for (int c = 0; c < 256; ++c) map[std::size_t(c)] = char(c);
  for (const Replacement& r : table) map[r.from] = r.to;
  return map;
}

std::string MapBytes(const std::string& text, const std::array<char, 256>& map) {
  std::string out(text);
  for (char& c : out) c = map[static_cast<unsigned char>(c)];
  return out;
}

}  // namespace

std::string ReplaceUnsafeChars(const std::string& text) {
  static const std::array<char, 256> map = BuildMap(kUnsafeChars);
  return MapBytes(text, map);
}

std::string FoldAccents(const std::string& text) {
  static const std::array<char, 256> map = BuildMap(kAccents);
  return MapBytes(text, map);
}
