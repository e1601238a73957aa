// The songs as the database holds them, read byte for byte: the one reader of Tb_Musicas for
// the tests.
//
// The reader attaches through the database client (embedded for a plain path, through the
// server for "host/port:path") and detaches before it returns, so another process may open the
// file afterwards. isql-fb is no help here: its listing cannot show CR, LF or NUL inside a value.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

class TIBDatabase;
class TIBTransaction;

namespace test {

struct StoredSong {
  std::string Nome;
  std::string Interprete;
  std::optional<std::string> Compositor;  // nullopt for NULL
};

// Every row of Tb_Musicas by MUS_CODIGO, read with the window's login or `loginParams`
// ("user_name=...", "password=..."). Throws the client's exception when the database cannot be
// read.
std::map<int, StoredSong> ReadStoredSongs(const std::string& connectString,
                                          const std::vector<std::string>& loginParams = {});

// The same, read within the active `transaction` of an attached `database`, so that what it
// has not committed yet is seen too.
std::map<int, StoredSong> ReadStoredSongs(TIBDatabase& database, TIBTransaction& transaction);

}  // namespace test
