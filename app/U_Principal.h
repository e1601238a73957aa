// The main window: the progress of the update run, the one button that starts it, and the
// components the run works with (the HTTP client, the connection, the transaction, the song
// list with its four fields and the query that counts and updates).
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "app/LookupReport.h"
#include "app/ProxyEnvironment.h"
#include "app/RedirectPolicy.h"
#include "app/SiteTrouble.h"
#include "app/UpdateRun.h"
#include "db/DataSource.h"
#include "db/Fields.h"
#include "db/IBDatabase.h"
#include "db/IBFields.h"
#include "db/IBQuery.h"
#include "db/IBTransaction.h"
#include "http/IdHTTP.h"
#include "http/IdSSLIOHandlerSocket.h"
#include "runtime/Exception.h"
#include "ui/Application.h"

class TFrmPrincipal {
 public:
  // Creates the window on `application` with all its controls and components. The window
  // system owns the form and its controls; this object owns the components. The connection
  // is closed, the transaction inactive and both queries closed.
  explicit TFrmPrincipal(ui::Application& application);
  ~TFrmPrincipal();
  TFrmPrincipal(const TFrmPrincipal&) = delete;
  TFrmPrincipal& operator=(const TFrmPrincipal&) = delete;

  // Event handlers.
  void FormShow();
  void btnBuscarClick();

  // Reads the database's name from the settings file, opens the connection and the song list.
  // True when both are open; false after one of its two messages was shown.
  bool ConnectDatabase();
  // The composer of a song, or an empty text when no page or no name could be had.
  std::string FindComposer(const std::string& performer, const std::string& title);

  // Members, in the window's declaration order.
  ui::Button* btnBuscar = nullptr;
  // The TLS I/O handler of IdHTTP1, which carries its https addresses; it outlives the client.
  std::unique_ptr<TIdSSLIOHandlerSocket> IdSSLIOHandlerSocket1;
  std::unique_ptr<TIdHTTP> IdHTTP1;
  std::unique_ptr<TIBQuery> Q_Musicas;
  std::unique_ptr<TDataSource> Ds_Musicas;
  std::unique_ptr<TIBDatabase> DB_Kavro;
  std::unique_ptr<TIBTransaction> Trans_Kavro;
  std::unique_ptr<TIBStringField> Q_MusicasMUS_NOME;
  std::unique_ptr<TIBStringField> Q_MusicasMUS_INTERPRETE;
  std::unique_ptr<TIBStringField> Q_MusicasMUS_COMPOSITOR;
  std::unique_ptr<TIBQuery> Q_Atualizar;
  std::unique_ptr<TIntegerField> Q_MusicasMUS_CODIGO;
  ui::ProgressBar* ProgressBar1 = nullptr;
  ui::Label* lblAtual = nullptr;
  ui::Label* lblTotal = nullptr;

  // Where the settings file is looked for: the executable's directory, ending with "/".
  std::string SettingsDirectory;
  // How the update run goes; the program hands in what its command line asked for.
  app::RunOptions Options;
  // What the last update run did.
  app::RunTally Tally;
  // The report of the run under way; nullptr without one.
  std::unique_ptr<app::LookupReport> Report;
  // What the attempts of the last FindComposer met.
  app::LookupOutcome LastLookup;

 private:
  // The current song of the list: its composer looked up, again after a wait for as long as
  // the site's trouble keeps it from being looked up (or until it is left), and, when found,
  // written (a dry run writes nothing). `stored` is the composer the row holds, for the report.
  void UpdateSong(const std::string& stored, app::SitePatience& patience);
  // IdHTTP1's events: whether a redirect is followed (each hop followed gets its report line),
  // and the proxy of the address about to be asked.
  void IdHTTP1Redirect(TIdCustomHTTP& sender, std::string& location, std::string& verb,
                       int hopCount, bool& handled);
  void IdHTTP1SelectProxy(TIdCustomHTTP& sender, const TIdURI& address,
                          TIdProxyConnectionInfo& proxy);
  // Takes the proxies the environment names for the run; raises app::EProxySetting for one that
  // cannot be used.
  void UseProxies(app::ProxyEnvironment proxies);
  // Raises app::EProxySetting when the answer just refused is a proxy's 407.
  void CheckProxyAnswer();
  // Waits before a song is looked up again, saying so in the current-row label; raises
  // app::ESiteSilent when the max wait is spent.
  void WaitForSite(app::SitePatience& patience);
  // Commits what the run wrote so far once the last commit is kCommitInterval old, or at once
  // with `now`; the transaction stays active and the song list open.
  void CommitWritten(bool now);

  ui::Application& application_;
  std::chrono::steady_clock::time_point lastCommit_;
  // The settings file's exposed password is said once in a program's life.
  bool passwordWarned_ = false;
  app::RedirectPolicy redirects_;
  app::ProxyEnvironment proxies_;
};

// The program's one main window, while it exists.
extern TFrmPrincipal* FrmPrincipal;

namespace app {

// The application title: task-bar text and the caption of every message box.
inline constexpr const char* kApplicationTitle = "Lirenta";
inline constexpr const char* kSettingsFileName = "BaseKavro.ini";
inline constexpr const char* kSettingsSection = "BANCO";
inline constexpr const char* kSettingsKey = "CAMINHO";
inline constexpr const char* kSettingsMissingMessage = "Arquivo BaseKavro.ini n\xE3o encontrado.";
inline constexpr const char* kConnectFailedMessage =
    "N\xE3o foi poss\xEDvel conectar com a Base de Dados.";
inline constexpr const char* kCountStatement = "SELECT COUNT(*) FROM Tb_Musicas";
inline constexpr const char* kUpdateStatement =
    "UPDATE Tb_Musicas SET Mus_Compositor = :Compositor WHERE Mus_Codigo = :Codigo";
inline constexpr const char* kCompletedMessage =
    "Atualiza\xE7\xE3o conclu\xED"
    "da.";
inline constexpr const char* kDryRunCompletedMessage =
    "Simula\xE7\xE3o conclu\xED"
    "da. Nada foi gravado.";
// How a run that stopped before its end left the database.
inline constexpr const char* kNothingWritten = "simula\xE7\xE3o, nada foi gravado.";
inline constexpr const char* kChangesKept =
    "as altera\xE7\xF5"
    "es at\xE9 aqui foram gravadas.";
inline constexpr const char* kChangesLost =
    "as altera\xE7\xF5"
    "es n\xE3o foram gravadas.";
// Shown in the current-row label while the run waits for the site: the wait in seconds, then
// the trouble's own text.
inline constexpr const char* kWaitingForSiteText =
    "aguardando o site de letras: nova tentativa em %s s (%s)";
// A run the site's trouble stopped: how long it gave nothing but trouble, its last failure,
// the songs done and the total, then how the database was left.
inline constexpr const char* kSiteSilentMessage =
    "O site de letras n\xE3o respondeu por %s s (%s). Parado ap\xF3s %s de %s m\xFAsicas; %s";

// A run that lost its connection to the database (the server went away): the engine's reason,
// the songs done and the total, then how the database was left.
inline constexpr const char* kConnectionLostMessage =
    "A conex\xE3o com a Base de Dados foi perdida (%s). Parado ap\xF3s %s de %s m\xFAsicas; %s";
// What a lost connection left: every commit before it; the songs after the last one are done
// again by a run that skips the songs that have a composer.
inline constexpr const char* kCommittedKept =
    "os %s registros gravados at\xE9 a \xFAltima confirma\xE7\xE3o foram mantidos; termine com "
    "--only-missing.";

// How long written composers may wait for their commit: a crash, a power cut or a killed
// program loses no more than this of a run's work, and a commit every 2 s costs a long run
// nothing it would notice.
inline constexpr std::chrono::seconds kCommitInterval{2};

// The proxy a run goes through cannot serve it: the environment names one that cannot be used
// (the run does not start), or the proxy answered 407 (the run stops there, its work kept).
// The proxy is named without its credentials.
inline constexpr const char* kProxyUnusableMessage =
    "O proxy %s (%s) n\xE3o pode ser usado: escreva-o como http://m\xE1quina:porta.";
inline constexpr const char* kProxyRefusedMessage = "O proxy %s (%s) recusou o acesso: %s";
class EProxySetting : public Exception {
 public:
  using Exception::Exception;
};

// The run stopped because the site gave nothing but trouble for the max wait.
class ESiteSilent : public Exception {
 public:
  ESiteSilent(int64_t seconds, std::string trouble)
      : Exception("site silent"), Seconds(seconds), Trouble(std::move(trouble)) {}
  int64_t Seconds;      // how long the site gave nothing but trouble
  std::string Trouble;  // the last trouble's own text
};

// How a run that stopped before its end left the database: nothing written in a dry run, else
// kept or lost as its final commit went.
const char* StoppedRunOutcome(const RunTally& tally, bool dryRun);
// The line that ends a run the site's trouble stopped.
std::string SiteSilentLine(const RunTally& tally, const ESiteSilent& stop, bool dryRun);
// The line that ends a run whose connection was lost; `reason` is the engine's text.
std::string ConnectionLostLine(const RunTally& tally, const std::string& reason, bool dryRun);

// A stored composer has a value when it is not empty once the characters 00-20 (hex) are
// trimmed at both ends.
bool HasValue(const std::string& storedComposer);

// Start-up: sets the title, creates the main window with the run's options, runs the message
// loop, and destroys the window when the loop ends. Returns the program's exit code.
int RunProgram(ui::Application& application, const RunOptions& options);

}  // namespace app
