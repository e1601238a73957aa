#include "tests/support/FirebirdFixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "db/EngineLockFolder.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedServer.h"

namespace test {
namespace {

// A test program uses the embedded engine itself and through isql-fb, as whichever user runs
// the tests; like the programs, it takes a lock folder of that user's own, before anything
// loads the client library (and before any thread exists, which setenv needs).
[[maybe_unused]] const bool kPrivateLockFolder = [] {
  if (auto refusal = db::UsePrivateLockFolder()) std::fprintf(stderr, "%s\n", refusal->c_str());
  return true;
}();

constexpr const char* kIsql = "/usr/bin/isql-fb";
constexpr const char* kServerProgram = "/usr/sbin/firebird";
// The installed server's own folder: the private root links to its libraries, plugins and
// messages, and to nothing of its configuration.
constexpr const char* kInstalledRoot = "/usr/lib/x86_64-linux-gnu/firebird/3.0";
constexpr const char* kRootLinks[] = {"firebird.msg", "plugins",      "intl",        "UDF",
                                      "lib",          "plugins.conf", "fbtrace.conf"};
// isql-fb creates a database in well under a second; a minute means it hangs.
constexpr auto kIsqlDeadline = std::chrono::seconds(60);
// The server answers on its port within a second or two of starting.
constexpr auto kServerStartDeadline = std::chrono::seconds(20);
// A server asked to stop usually ends at once, but now and then it lingers for seconds over
// connections already gone; the test databases are thrown away, so it is killed after this.
constexpr auto kServerStopGrace = std::chrono::seconds(2);
// A killed process is gone within this.
constexpr auto kServerStopDeadline = std::chrono::seconds(10);

using Clock = std::chrono::steady_clock;

std::string SqlLiteral(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// Waits up to `deadline` for the child `pid` to end and reaps it; false when it still runs.
bool WaitForExit(pid_t pid, Clock::duration deadline) {
  // The process's descriptor turns readable when it ends. (Called through syscall: glibc 2.36
  // declares pidfd_open without C linkage for C++.)
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (fd >= 0) {
    const auto until = Clock::now() + deadline;
    pollfd p{fd, POLLIN, 0};
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (poll(&p, 1, static_cast<int>(std::max<long>(left, 0))) >= 0 || errno != EINTR) break;
    }
    close(fd);
  }
  const pid_t r = waitpid(pid, nullptr, WNOHANG);
  return r == pid || (r < 0 && errno == ECHILD);
}

// Twenty letters and digits, as unguessable as an installed server's.
std::string RandomPassword() {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device source;
  std::string password;
  for (int i = 0; i < 20; ++i) password += kAlphabet[source() % kAlphabet.size()];
  return password;
}

}  // namespace

std::vector<std::string> DefaultDatabaseParams() {
  return {std::string("user_name=") + kSysdbaUser, std::string("password=") + kSysdbaPassword};
}

const std::vector<Song>& DefaultSongs() {
  static const std::vector<Song> songs{
      {1, "Can\xE7\xE3o do Mar", "Trio Flor & Caf\xE9", std::nullopt},
      {2, "Quem?", "AC/DC do Sert\xE3o", std::nullopt},
      {3,
       "\xC9"
       "bano",
       "Banda \xC9"
       "bano",
       std::string("Desconhecido")},
  };
  return songs;
}

std::string NumbersTableSql(int count) {
  return "CREATE TABLE Tb_Numeros (N INTEGER NOT NULL PRIMARY KEY, V VARCHAR(45));\n"
         "SET TERM ^ ;\nEXECUTE BLOCK AS DECLARE n INTEGER = 1; BEGIN WHILE (n <= " +
         std::to_string(count) +
         ") DO BEGIN INSERT INTO Tb_Numeros VALUES (:n, 'inicial'); n = n + 1; END END^\n"
         "SET TERM ; ^\n";
}

int RunIsql(const std::string& script, const std::vector<std::string>& arguments,
            std::string& output, const std::vector<std::string>& environment) {
  // The script goes in by file: isql-fb drops the 8-bit bytes of what it reads from a pipe.
  TempDir folder;
  WriteFile(folder.File("script.sql"), script);
  ChildProcess::Options options;
  options.args = {kIsql, "-q", "-i", folder.File("script.sql")};
  options.args.insert(options.args.end(), arguments.begin(), arguments.end());
  for (const std::string& entry : environment) {
    const std::size_t equals = entry.find('=');
    options.env[entry.substr(0, equals)] = entry.substr(equals + 1);
  }
  ChildProcess isql(std::move(options));
  const std::optional<int> status = isql.Wait(kIsqlDeadline);
  output = isql.Stdout() + isql.Stderr();
  if (!status) output += "\n(isql-fb killed after its deadline)";
  return status.value_or(-1);
}

FirebirdDatabase::FirebirdDatabase(const std::vector<Song>& songs, const std::string& extraSql,
                                   int dialect) {
  char folder[] = "/tmp/lirenta-fbtest-XXXXXX";
  if (!mkdtemp(folder)) throw std::runtime_error("cannot create a temporary folder");
  folder_ = folder;
  // The server (running as another user on some machines) must reach the file too.
  chmod(folder, 0777);
  path_ = folder_ + "/lirenta.fdb";

  std::string script = "SET SQL DIALECT " + std::to_string(dialect) + ";\n";
  script += "CREATE DATABASE " + SqlLiteral(path_) + " USER " + SqlLiteral(kSysdbaUser) +
            " PASSWORD " + SqlLiteral(kSysdbaPassword) + " DEFAULT CHARACTER SET NONE;\n";
  script += "SET AUTODDL ON;\n";
  script +=
      "CREATE TABLE Tb_Musicas (MUS_CODIGO INTEGER NOT NULL PRIMARY KEY, MUS_NOME VARCHAR(45), "
      "MUS_INTERPRETE VARCHAR(45), MUS_COMPOSITOR VARCHAR(45));\n";
  for (const Song& s : songs) {
    script += "INSERT INTO Tb_Musicas VALUES (" + std::to_string(s.Codigo) + ", " +
              SqlLiteral(s.Nome) + ", " + SqlLiteral(s.Interprete) + ", " +
              (s.Compositor ? SqlLiteral(*s.Compositor) : std::string("NULL")) + ");\n";
  }
  script += extraSql;
  script += "\nCOMMIT;\n";
  std::string output;
  const int rc = RunIsql(script, {}, output);
  if (rc != 0 || !std::filesystem::exists(path_)) {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
    throw std::runtime_error("isql-fb could not create the test database: " + output);
  }
  chmod(path_.c_str(), 0666);
}

FirebirdDatabase::~FirebirdDatabase() {
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

std::string FirebirdDatabase::Isql(const std::string& sql, const std::string& connectString) const {
  std::string output;
  RunIsql(sql,
          {"-user", kSysdbaUser, "-password", kSysdbaPassword,
           connectString.empty() ? path_ : connectString},
          output);
  return output;
}

namespace {
std::unique_ptr<FirebirdServer>& ServerSlot() {
  static std::unique_ptr<FirebirdServer> server;
  return server;
}
std::string& ServerReason() {
  static std::string reason;
  return reason;
}
bool& ServerTried() {
  static bool tried = false;
  return tried;
}
}  // namespace

const std::string& FirebirdServer::Reason() {
  return ServerReason();
}

FirebirdServer* FirebirdServer::Instance(SysdbaPassword password) {
  if (ServerTried()) return ServerSlot().get();
  ServerTried() = true;
  std::string& reason = ServerReason();
  if (access(kServerProgram, X_OK) != 0) {
    reason = std::string(kServerProgram) + " is not installed";
    return nullptr;
  }
  std::unique_ptr<FirebirdServer> server(new FirebirdServer());
  server->sysdbaPassword_ =
      password == SysdbaPassword::Random ? RandomPassword() : std::string(kSysdbaPassword);
  if (!server->MakeRoot(reason) || !server->Start(reason)) return nullptr;
  ServerSlot() = std::move(server);
  return ServerSlot().get();
}

bool FirebirdServer::MakeRoot(std::string& reason) {
  char folder[] = "/tmp/lirenta-fbroot-XXXXXX";
  if (!mkdtemp(folder)) {
    reason = std::string("cannot create the server's root folder: ") + std::strerror(errno);
    return false;
  }
  root_ = folder;
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const char* name : kRootLinks) {
    fs::create_symlink(fs::path(kInstalledRoot) / name, fs::path(root_) / name, ec);
    if (ec) {
      reason = "cannot link " + std::string(name) + " into the server's root: " + ec.message();
      return false;
    }
  }
  fs::create_directory(root_ + "/lock", ec);
  const std::string security = root_ + "/security3.fdb";
  std::ofstream(root_ + "/firebird.conf")
      << "SecurityDatabase = " << security << "\nRemoteBindAddress = 127.0.0.1\nUdfAccess = None\n";
  std::ofstream(root_ + "/databases.conf") << "";
  // The security database is an empty database; the user manager makes its tables when the
  // first user is created.
  std::string output;
  if (RunIsql(
          "CREATE DATABASE " + SqlLiteral(security) + " USER " + SqlLiteral(kSysdbaUser) + ";\n",
          {}, output, Environment()) != 0 ||
      RunIsql(std::string("CREATE OR ALTER USER SYSDBA PASSWORD ") + SqlLiteral(sysdbaPassword_) +
                  ";\nCOMMIT;\n",
              {"-user", kSysdbaUser, security}, output, Environment()) != 0) {
    reason = "cannot make the server's security database: " + output;
    return false;
  }
  return true;
}

std::vector<std::string> FirebirdServer::Environment() const {
  return {"FIREBIRD=" + root_, "FIREBIRD_LOCK=" + root_ + "/lock", "FIREBIRD_TMP=" + root_};
}

bool FirebirdServer::Start(std::string& reason) {
  if (pid_ > 0) return true;
  if (port_ == 0) port_ = FreeLoopbackPort();
  if (port_ == 0) {
    reason = "no free loopback port";
    return false;
  }
  const std::string port = std::to_string(port_);
  const std::vector<std::string> environment = Environment();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
      dup2(devNull, 0);
      dup2(devNull, 1);
      dup2(devNull, 2);
    }
    for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
    execl(kServerProgram, kServerProgram, "-p", port.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid < 0) {
    reason = std::string("cannot fork: ") + std::strerror(errno);
    return false;
  }
  pid_ = pid;
  const auto until = Clock::now() + kServerStartDeadline;
  while (!PortAnswers(port_)) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      reason = "the Firebird server ended at start (status " + std::to_string(status) + ")";
      return false;
    }
    if (Clock::now() >= until) {
      Kill();
      reason = "the Firebird server did not answer on port " + port;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

void FirebirdServer::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  WaitForExit(pid_, kServerStopDeadline);
  pid_ = -1;
}

void FirebirdServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (!WaitForExit(pid_, kServerStopGrace)) {
    kill(pid_, SIGKILL);
    WaitForExit(pid_, kServerStopDeadline);
  }
  pid_ = -1;
}

FirebirdServer::~FirebirdServer() {
  Stop();
  if (!root_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
}

std::string FirebirdServer::ConnectString(const std::string& path) const {
  return "127.0.0.1/" + std::to_string(port_) + ":" + path;
}

int FirebirdServer::IsqlAsSysdba(const std::string& sql, const std::string& path,
                                 std::string& output) const {
  return RunIsql(sql, {ConnectString(path)}, output,
                 {std::string("ISC_USER=") + kSysdbaUser, "ISC_PASSWORD=" + sysdbaPassword_});
}

std::unique_ptr<FirebirdDatabase> FirebirdTest::database_;

void FirebirdTest::SetUpDatabase(const std::string& extraSql) {
  database_ = std::make_unique<FirebirdDatabase>(DefaultSongs(), extraSql);
}

void FirebirdTest::TearDownTestSuite() {
  database_.reset();
}

}  // namespace test
