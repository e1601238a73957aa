#include "bench/support/SongCorpus.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/ComposerLookup.h"

namespace bench {

namespace {

// Performers the songs are spread over (one folder of pages each).
constexpr int kPerformers = 100;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

PageKind KindOf(int song) {
  switch (song % 3) {
    case 1:
      return PageKind::First;
    case 2:
      return PageKind::Cifrada;
    default:
      return PageKind::Missing;
  }
}

std::string PerformerOf(int song) {
  return "Banda " + std::to_string(song % kPerformers);
}
std::string TitleOf(int song) {
  return "Cancao " + std::to_string(song);
}
std::string ComposerOf(int song) {
  return "Autor " + std::to_string(song);
}

long GetsFor(int count) {
  long gets = 0;
  for (int i = 1; i <= count; ++i)
    gets += KindOf(i) == PageKind::First ? 1 : KindOf(i) == PageKind::Cifrada ? 2 : 3;
  return gets;
}

int ComposersFor(int count) {
  int found = 0;
  for (int i = 1; i <= count; ++i) found += KindOf(i) != PageKind::Missing ? 1 : 0;
  return found;
}

std::string ComposerPage(const std::string& composer, std::size_t bytes) {
  std::string page =
      "<html><head><title>Letra</title></head><body>\n<h1>Letra da can\xC3\xA7\xC3\xA3o</h1>\n";
  const std::string tail = "<p class=\"ficha\">Compositor: " + composer + "</p>\n</body></html>\n";
  const std::string verse =
      "<p>Versos da can\xC3\xA7\xC3\xA3o, linha de letra para encher a p\xC3\xA1gina.</p>\n";
  while (page.size() + verse.size() + tail.size() <= bytes) page += verse;
  if (page.size() + tail.size() < bytes) page.append(bytes - page.size() - tail.size(), ' ');
  return page + tail;
}

void CreateSongDatabase(const std::string& path, int count) {
  const std::string script = path + ".sql";
  const std::string log = path + ".log";
  // The rows are made by the engine itself: one statement, whatever the count.
  WriteAll(script,
           "SET SQL DIALECT 1;\n"
           "CREATE DATABASE '" +
               path + "' USER '" + kSongUser + "' PASSWORD '" + kSongPassword +
               "' DEFAULT CHARACTER SET NONE;\n"
               "CREATE TABLE Tb_Musicas (MUS_CODIGO INTEGER NOT NULL PRIMARY KEY, "
               "MUS_NOME VARCHAR(45), MUS_INTERPRETE VARCHAR(45), MUS_COMPOSITOR VARCHAR(45));\n"
               "COMMIT;\nSET TERM ^ ;\n"
               "EXECUTE BLOCK AS DECLARE VARIABLE I INTEGER = 1; BEGIN WHILE (I <= " +
               std::to_string(count) +
               ") DO BEGIN INSERT INTO Tb_Musicas VALUES (:I, 'Cancao ' || :I, "
               "'Banda ' || MOD(:I, " +
               std::to_string(kPerformers) +
               "), NULL); I = I + 1; END END^\n"
               "SET TERM ; ^\nCOMMIT;\n");
  const std::string command = "isql-fb -q -i '" + script + "' > '" + log + "' 2>&1";
  const int status = std::system(command.c_str());
  const std::string output = ReadAll(log);
  std::remove(script.c_str());
  std::remove(log.c_str());
  if (status != 0 || !output.empty())
    throw std::runtime_error("isql-fb could not make the song database: " + output);
}

void WriteSongSite(const std::string& root, int count, std::size_t pageBytes) {
  const std::string base = "/";
  for (int i = 1; i <= count; ++i) {
    const PageKind kind = KindOf(i);
    if (kind == PageKind::Missing) continue;
    // The path the lookup asks for, without the site's base address.
    const std::string address =
        app::PageAddress(base, PerformerOf(i), TitleOf(i), kind == PageKind::First ? 0 : 1);
    const std::filesystem::path file = std::filesystem::path(root) / address.substr(1);
    std::filesystem::create_directories(file.parent_path());
    WriteAll(file.string(), ComposerPage(ComposerOf(i), pageBytes));
  }
}

ScratchFolder::ScratchFolder(const std::string& parent) {
  std::string name = parent + "/lirenta-bench-XXXXXX";
  if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("no temporary folder in " + parent);
  path_ = name;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace bench
