// Songs for the benchmarks: a database of N songs made with isql-fb, and the fixture site's
// pages for them. Song i (1-based) is "Cancao i" by "Banda (i mod 100)"; its page is found at
// the first address when i mod 3 is 1, at the "-cifrada" address when i mod 3 is 2, and
// nowhere when i mod 3 is 0, so a third of the songs take one, two and three GETs each.
#pragma once

#include <cstddef>
#include <string>

namespace bench {

// The account the main window connects with.
inline constexpr const char* kSongUser = "SYSDBA";
inline constexpr const char* kSongPassword = "velkadrum";

enum class PageKind { First, Cifrada, Missing };

PageKind KindOf(int song);
std::string PerformerOf(int song);
std::string TitleOf(int song);
std::string ComposerOf(int song);

// GETs the update run makes for songs 1..count, and the songs it finds a composer for.
long GetsFor(int count);
int ComposersFor(int count);

// The pages are UTF-8, as sites write them today, and the site says so in every answer.
inline constexpr const char* kPageContentType = "text/html; charset=utf-8";

// A page of about `bytes` bytes holding `composer` (ASCII, so that a console of any version
// reads the same composer off it) the way the lyrics pages do.
std::string ComposerPage(const std::string& composer, std::size_t bytes);

// Creates the database file `path` (dialect 1, Tb_Musicas) with songs 1..count, composers
// empty. Raises std::runtime_error with isql-fb's output when it fails.
void CreateSongDatabase(const std::string& path, int count);

// Writes the pages of songs 1..count below `root`, each of about `pageBytes` bytes.
void WriteSongSite(const std::string& root, int count, std::size_t pageBytes);

// A fresh temporary folder below `parent` removed with its contents when the object goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& parent = "/tmp");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace bench
