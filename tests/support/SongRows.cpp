#include "tests/support/SongRows.h"

#include "tests/support/StoredSongs.h"

namespace test {

std::vector<Song> NumberedSongs(int n, const std::string& performer) {
  std::vector<Song> songs;
  for (int i = 1; i <= n; ++i) songs.push_back({i, "t" + std::to_string(i), performer, {}});
  return songs;
}

std::string NumberedPage(int i, const std::string& suffix) {
  return "ana/t" + std::to_string(i) + suffix + ".html";
}

std::string NumberedComposer(int i) {
  return "Jos\xE9 " + std::to_string(i);
}

Composers StoredComposers(const std::string& connectString,
                          const std::vector<std::string>& loginParams) {
  Composers composers;
  for (const auto& [code, song] : ReadStoredSongs(connectString, loginParams))
    composers[code] = song.Compositor;
  return composers;
}

}  // namespace test
