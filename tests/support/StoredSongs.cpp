#include "tests/support/StoredSongs.h"

#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/WindowConnection.h"

namespace test {

std::map<int, StoredSong> ReadStoredSongs(const std::string& connectString,
                                          const std::vector<std::string>& loginParams) {
  WindowConnection reader(connectString);
  if (!loginParams.empty()) reader.database.SetParams(loginParams);
  reader.database.Open();
  reader.transaction.Start();
  return ReadStoredSongs(reader.database, reader.transaction);
}

std::map<int, StoredSong> ReadStoredSongs(TIBDatabase& database, TIBTransaction& transaction) {
  TIBSQL select(&database);
  select.SetTransaction(&transaction);
  select.GoToFirstRecordOnExecute = false;
  select.SetSQL({"SELECT Mus_Codigo, Mus_Nome, Mus_Interprete, Mus_Compositor FROM Tb_Musicas"});
  select.ExecQuery();
  std::map<int, StoredSong> rows;
  while (TIBXSQLDA* row = select.FetchNext()) {
    StoredSong song{(*row)[1].TextValue(), (*row)[2].TextValue(), std::nullopt};
    if (!(*row)[3].IsNull()) song.Compositor = (*row)[3].TextValue();
    rows[(*row)[0].LongValue()] = std::move(song);
  }
  return rows;
}

}  // namespace test
