// The query dataset over 100,000 songs on the embedded engine: opening the song list and
// walking it row by row (every row fetched into the record cache), walking the cached rows
// again after MoveFirst, and the prepared UPDATE executed with new values.
//
// The database is made with isql-fb in a temporary folder and removed at the end.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "db/Fields.h"
#include "db/IBDatabase.h"
#include "db/IBFields.h"
#include "db/IBQuery.h"
#include "db/IBTransaction.h"

namespace {

// Rows of the song table.
constexpr int kRows = 100000;

long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

class SongDatabase {
 public:
  SongDatabase() {
    char folder[] = "/tmp/lirenta-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) throw std::runtime_error("no temporary folder");
    folder_ = folder;
    path_ = folder_ + "/songs.fdb";
    const std::string script = folder_ + "/create.sql";
    std::ofstream(script)
        << "SET SQL DIALECT 1;\n"
        << "CREATE DATABASE '" << path_ << "' USER 'SYSDBA' DEFAULT CHARACTER SET NONE;\n"
        << "CREATE TABLE Tb_Musicas (MUS_CODIGO INTEGER NOT NULL PRIMARY KEY, "
           "MUS_NOME VARCHAR(45), MUS_INTERPRETE VARCHAR(45), MUS_COMPOSITOR VARCHAR(45));\n"
        << "COMMIT;\nSET TERM ^ ;\n"
        << "EXECUTE BLOCK AS DECLARE VARIABLE I INTEGER = 1; BEGIN WHILE (I <= " << kRows
        << ") DO BEGIN INSERT INTO Tb_Musicas VALUES (:I, 'Cancao numero ' || :I, "
           "'Interprete ' || :I, NULL); I = I + 1; END END^\n"
        << "SET TERM ; ^\nCOMMIT;\n";
    const std::string command = "isql-fb -q -i '" + script + "' > '" + folder_ + "/log' 2>&1";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("isql-fb failed");
  }
  ~SongDatabase() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
};

struct Connection {
  explicit Connection(const std::string& path) {
    DB_Kavro.SetDatabaseName(path);
    DB_Kavro.SetParams({"user_name=SYSDBA", "password=masterkey"});
    DB_Kavro.LoginPrompt = false;
    DB_Kavro.SetSQLDialect(1);
    Trans_Kavro.SetParams({"read_committed", "rec_version", "nowait"});
    Trans_Kavro.SetDefaultDatabase(&DB_Kavro);
    DB_Kavro.Open();
  }
  ~Connection() {
    if (Trans_Kavro.Active()) Trans_Kavro.Rollback();
    DB_Kavro.Close();
  }
  TIBDatabase DB_Kavro{"DB_Kavro"};
  TIBTransaction Trans_Kavro{"Trans_Kavro"};
};

SongDatabase& Songs() {
  static SongDatabase database;
  return database;
}

struct SongList {
  explicit SongList(Connection& connection) {
    Q_Musicas.SetDatabase(&connection.DB_Kavro);
    Q_Musicas.SetTransaction(&connection.Trans_Kavro);
    Q_Musicas.SQL().Add(
        "SELECT Mus_Codigo, Mus_Nome, Mus_Interprete, Mus_Compositor FROM Tb_Musicas");
    codigo.FieldName = "MUS_CODIGO";
    nome.FieldName = "MUS_NOME";
    interprete.FieldName = "MUS_INTERPRETE";
    codigo.SetDataSet(&Q_Musicas);
    nome.SetDataSet(&Q_Musicas);
    interprete.SetDataSet(&Q_Musicas);
  }
  // Reads what the update run reads of every row; returns the number of rows.
  int Walk() {
    int rows = 0;
    while (!Q_Musicas.AtEnd()) {
      benchmark::DoNotOptimize(codigo.IntegerValue());
      benchmark::DoNotOptimize(nome.StringValue());
      benchmark::DoNotOptimize(interprete.StringValue());
      ++rows;
      Q_Musicas.MoveNext();
    }
    return rows;
  }
  TIBQuery Q_Musicas{"Q_Musicas"};
  TIntegerField codigo;
  TIBStringField nome{45};
  TIBStringField interprete{45};
};

void BM_OpenAndWalk100k(benchmark::State& state) {
  Connection connection(Songs().Path());
  SongList songs(connection);
  // Memory the first open and walk took (later ones reuse the freed blocks).
  const long before = ResidentKilobytes();
  long growth = -1;
  for (auto _ : state) {
    songs.Q_Musicas.Open();
    if (songs.Walk() != kRows) state.SkipWithError("wrong row count");
    state.counters["cache_MB"] =
        static_cast<double>(songs.Q_Musicas.RecordCacheSize()) / (1024.0 * 1024.0);
    state.counters["slot_bytes"] = static_cast<double>(songs.Q_Musicas.RecordSlotSize());
    if (growth < 0) growth = ResidentKilobytes() - before;
    state.counters["rss_growth_MB"] = static_cast<double>(growth) / 1024.0;
    songs.Q_Musicas.Close();
  }
}
BENCHMARK(BM_OpenAndWalk100k)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_WalkCached100k(benchmark::State& state) {
  Connection connection(Songs().Path());
  SongList songs(connection);
  songs.Q_Musicas.Open();
  songs.Walk();
  for (auto _ : state) {
    songs.Q_Musicas.MoveFirst();
    if (songs.Walk() != kRows) state.SkipWithError("wrong row count");
  }
}
BENCHMARK(BM_WalkCached100k)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_PreparedUpdate(benchmark::State& state) {
  Connection connection(Songs().Path());
  TIBQuery Q_Atualizar("Q_Atualizar");
  Q_Atualizar.SetDatabase(&connection.DB_Kavro);
  Q_Atualizar.SetTransaction(&connection.Trans_Kavro);
  Q_Atualizar.SQL().Add(
      "UPDATE Tb_Musicas SET Mus_Compositor = :Compositor WHERE Mus_Codigo = :Codigo");
  TParam* compositor = Q_Atualizar.GetParam("Compositor");
  TParam* codigo = Q_Atualizar.GetParam("Codigo");
  int row = 0;
  for (auto _ : state) {
    row = row % kRows + 1;
    Q_Atualizar.Close();
    compositor->AssignString("Compositor de teste");
    codigo->AssignInteger(row);
    Q_Atualizar.ExecuteSql();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PreparedUpdate)->Unit(benchmark::kMicrosecond)->Iterations(10000);

}  // namespace

BENCHMARK_MAIN();
