// Test databases and the loopback Firebird server.
//
// FirebirdDatabase makes a fresh database (dialect 1 unless asked otherwise) holding Tb_Musicas in
// its own temporary folder (through isql-fb, so the test process has not opened it) and removes
// the folder when destroyed. The embedded engine opens a database file for one process at a time: a
// test that runs isql-fb or a server on a database must not hold it open itself.
//
// FirebirdServer runs a private instance of /usr/sbin/firebird on a free port of 127.0.0.1 for
// the test program that asks for it, and stops it when the program ends. The instance has a root
// folder of its own (links to the installed libraries, plugins and messages, its own
// firebird.conf naming a security database made for it, its own lock folder), so the machine's
// security database, configuration and any server it runs are never touched.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace test {

// The account of the test databases and of the loopback server.
inline constexpr const char* kSysdbaUser = "SYSDBA";
inline constexpr const char* kSysdbaPassword = "velkadrum";

// The main window's connection parameters.
std::vector<std::string> DefaultDatabaseParams();

struct Song {
  int Codigo = 0;
  std::string Nome;        // Windows-1252 bytes
  std::string Interprete;  // Windows-1252 bytes
  std::optional<std::string> Compositor;
};

// Three songs: "Canção do Mar" by "Trio Flor & Café" (1), "Quem?" by "AC/DC do Sertão" (2),
// both without composer, and "Ébano" by "Banda Ébano" (3) with the composer "Desconhecido".
const std::vector<Song>& DefaultSongs();

// Script lines that make Tb_Numeros (N integer key, V VARCHAR(45)) holding the numbers 1 to
// `count`, each with V 'inicial': extra SQL for FirebirdDatabase.
std::string NumbersTableSql(int count);

class FirebirdDatabase {
 public:
  // Creates the folder and the database in SQL dialect `dialect` with Tb_Musicas (MUS_CODIGO
  // integer key; MUS_NOME, MUS_INTERPRETE, MUS_COMPOSITOR VARCHAR(45)) holding `songs`, then runs
  // `extraSql` (each statement ended by ";"). Throws std::runtime_error with isql-fb's output on
  // failure.
  explicit FirebirdDatabase(const std::vector<Song>& songs = DefaultSongs(),
                            const std::string& extraSql = {}, int dialect = 1);
  ~FirebirdDatabase();
  FirebirdDatabase(const FirebirdDatabase&) = delete;
  FirebirdDatabase& operator=(const FirebirdDatabase&) = delete;

  const std::string& Path() const { return path_; }
  const std::string& Folder() const { return folder_; }

  // Runs `sql` through isql-fb on `connectString` (default: the file itself, embedded) and
  // returns its output (stdout and stderr). The test process must not hold the file open.
  std::string Isql(const std::string& sql, const std::string& connectString = {}) const;

 private:
  std::string folder_;
  std::string path_;
};

// Runs isql-fb with `script` as input; returns the exit status (-1 when it had to be killed) and
// its output (standard output, then standard error).
// `environment` ("NAME=value" entries) is added to isql-fb's environment.
int RunIsql(const std::string& script, const std::vector<std::string>& arguments,
            std::string& output, const std::vector<std::string>& environment = {});

// The password of the server's SYSDBA: the one the programs store, or a random one, as an
// installed server has (known to the test alone).
enum class SysdbaPassword { Stored, Random };

class FirebirdServer {
 public:
  // The server of this test program, started on the first call, whose `password` decides.
  // Null when it cannot be started; Reason() then says why, and the caller fails.
  static FirebirdServer* Instance(SysdbaPassword password = SysdbaPassword::Stored);
  static const std::string& Reason();

  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  const std::string& Sysdba() const { return sysdbaPassword_; }
  // "127.0.0.1/PORT:path"
  std::string ConnectString(const std::string& path) const;
  // Runs `sql` through isql-fb on `path` through this server as SYSDBA, the password handed
  // over in isql-fb's environment (ISC_USER, ISC_PASSWORD), never on its command line; returns
  // the exit status and leaves isql-fb's output in `output`.
  int IsqlAsSysdba(const std::string& sql, const std::string& path, std::string& output) const;

  // Kills the server at once (SIGKILL) and waits for it; Start brings it back on the same port.
  void Kill();
  bool Start(std::string& reason);
  void Stop();
  bool Running() const { return pid_ > 0; }

  ~FirebirdServer();

 private:
  FirebirdServer() = default;

  // Makes the instance's root folder and its security database with the SYSDBA password.
  bool MakeRoot(std::string& reason);
  std::vector<std::string> Environment() const;

  std::string root_;
  std::string sysdbaPassword_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// A test suite with one fresh database (DefaultSongs) for all its tests.
class FirebirdTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { SetUpDatabase(); }
  static void TearDownTestSuite();
  // Makes the suite's database with `extraSql` run after the songs; a suite that needs tables
  // of its own calls it from its own SetUpTestSuite.
  static void SetUpDatabase(const std::string& extraSql = {});
  static FirebirdDatabase& Database() { return *database_; }

 private:
  static std::unique_ptr<FirebirdDatabase> database_;
};

}  // namespace test
