#include "tests/support/StoredSongs.h"

#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "tests/support/FirebirdFixture.h"

namespace test {

std::map<int, StoredSong> ReadStoredSongs(const std::string& connectString) {
  TIBDatabase database("Leitor");
  TIBTransaction transaction("Leitura");
  database.SetDatabaseName(connectString);
  database.SetParams(DefaultDatabaseParams());
  database.LoginPrompt = false;
  database.SetSQLDialect(1);
  transaction.SetParams({"read_committed", "rec_version", "nowait"});
  transaction.SetDefaultDatabase(&database);
  database.Open();
  std::map<int, StoredSong> rows;
  {
    TIBSQL select(&database);
    select.SetTransaction(&transaction);
    select.SetSQL({"SELECT Mus_Codigo, Mus_Nome, Mus_Interprete, Mus_Compositor FROM Tb_Musicas"});
    transaction.Start();
    select.ExecQuery();
    for (TIBXSQLDA* row = &select.Current(); row != nullptr && !select.Eof();
         row = select.FetchNext()) {
      StoredSong song{(*row)[1].TextValue(), (*row)[2].TextValue(), std::nullopt};
      if (!(*row)[3].IsNull()) song.Compositor = (*row)[3].TextValue();
      rows[(*row)[0].LongValue()] = std::move(song);
    }
    select.Close();
  }
  transaction.Rollback();
  database.Close();
  return rows;
}

}  // namespace test
