#include "app/U_Principal.h"

#include <exception>

#include "app/ComposerLookup.h"
#include "app/DatabaseLogin.h"
#include "db/IBErrors.h"
#include "runtime/Exception.h"
#include "runtime/ExePath.h"
#include "runtime/Profile.h"
#include "runtime/Text.h"

TFrmPrincipal* FrmPrincipal = nullptr;

namespace {

// The window's stored layout: client area 418 x 89 pixels at 96 dpi.
const ui::FormLayout kFormLayout{"FrmPrincipal", "Lirenta", 418, 89};
// The row counter goes with the progress bar.
const ui::LabelLayout kLblAtual{.name = "lblAtual",
                                .bounds = {8, 8, 77, 13},
                                .caption = "Registro atual: 0",
                                .alignment = ui::Alignment::Left,
                                .describesProgress = true};
const ui::LabelLayout kLblTotal{"lblTotal", {375, 8, 36, 13}, "Total: 0", ui::Alignment::Right};
const ui::ProgressBarLayout kProgressBar1{"ProgressBar1", {8, 32, 401, 17}, 0, 100, 0, 1};
const ui::ButtonLayout kBtnBuscar{"btnBuscar", {148, 56, 122, 25}, "Lirenta", 0};

// Stored settings of the HTTP client.
constexpr const char* kAccept = "text/html, */*";
constexpr const char* kUserAgent = "Mozilla/3.0 (compatible; Lirenta)";
// A server that accepts and never answers must not freeze the window (and with it the whole
// run, whose updates are committed only at its end).
constexpr int32_t kConnectTimeoutMs = 15000;
constexpr int32_t kReadTimeoutMs = 30000;
// A server that sends a byte now and then never trips the read time limit; two minutes is
// many times what a whole lyrics page takes even on a slow line.
constexpr int32_t kAnswerTimeoutMs = 120000;
// The status of a proxy that wants credentials it was not given, or refused them.
constexpr int32_t kProxyAuthenticationRequired = 407;

// Stored settings of the database components.
constexpr const char* kUser = "SYSDBA";
constexpr const char* kPassword = "velkadrum";
constexpr const char* kSongListStatement =
    "SELECT Mus_Codigo, Mus_Nome, Mus_Interprete, Mus_Compositor FROM Tb_Musicas";
// MUS_NOME, MUS_INTERPRETE and MUS_COMPOSITOR hold 45 characters.
constexpr int kSongTextSize = 45;

template <typename Field>
std::unique_ptr<Field> PersistentField(std::unique_ptr<Field> field, const char* name,
                                       const char* column) {
  field->Name = name;
  field->FieldName = column;
  field->Origin = std::string("TB_MUSICAS.") + column;
  return field;
}

}  // namespace

TFrmPrincipal::TFrmPrincipal(ui::Application& application)
    : SettingsDirectory(rt::ExecutableDirectory()), application_(application) {
  ui::Form* form = application_.CreateForm(kFormLayout);
  btnBuscar = form->AddButton(kBtnBuscar, [this] { btnBuscarClick(); });

  IdSSLIOHandlerSocket1 = std::make_unique<TIdSSLIOHandlerSocket>();
  IdHTTP1 = std::make_unique<TIdHTTP>();
  IdHTTP1->SetIOHandler(IdSSLIOHandlerSocket1.get());
  IdHTTP1->Request().Accept = kAccept;
  IdHTTP1->Request().UserAgent = kUserAgent;
  IdHTTP1->Request().BasicAuthentication = false;
  IdHTTP1->AllowCookies = true;
  IdHTTP1->ConnectTimeout = kConnectTimeoutMs;
  IdHTTP1->ReadTimeout = kReadTimeoutMs;
  IdHTTP1->AnswerTimeout = kAnswerTimeoutMs;
  IdHTTP1->MaxLineAction = TIdMaxLineAction::maException;
  // Sites move pages and send plain http on to https: redirects are followed, as far as
  // redirects_ allows.
  IdHTTP1->HandleRedirects = true;
  IdHTTP1->HTTPOptions.hoRedirectStatusesOnly = true;
  IdHTTP1->OnRedirect = [this](TIdCustomHTTP& sender, std::string& location, std::string& verb,
                               int hopCount, bool& handled) {
    IdHTTP1Redirect(sender, location, verb, hopCount, handled);
  };

  Q_Musicas = std::make_unique<TIBQuery>("Q_Musicas");
  Ds_Musicas = std::make_unique<TDataSource>("Ds_Musicas");
  DB_Kavro = std::make_unique<TIBDatabase>("DB_Kavro");
  Trans_Kavro = std::make_unique<TIBTransaction>("Trans_Kavro");
  Q_MusicasMUS_NOME = PersistentField(std::make_unique<TIBStringField>(kSongTextSize),
                                      "Q_MusicasMUS_NOME", "MUS_NOME");
  Q_MusicasMUS_INTERPRETE = PersistentField(std::make_unique<TIBStringField>(kSongTextSize),
                                            "Q_MusicasMUS_INTERPRETE", "MUS_INTERPRETE");
  Q_MusicasMUS_COMPOSITOR = PersistentField(std::make_unique<TIBStringField>(kSongTextSize),
                                            "Q_MusicasMUS_COMPOSITOR", "MUS_COMPOSITOR");
  Q_Atualizar = std::make_unique<TIBQuery>("Q_Atualizar");
  Q_MusicasMUS_CODIGO =
      PersistentField(std::make_unique<TIntegerField>(), "Q_MusicasMUS_CODIGO", "MUS_CODIGO");
  Q_MusicasMUS_CODIGO->Required = true;

  DB_Kavro->SetParams(app::LoginParams({kUser, kPassword}));
  DB_Kavro->LoginPrompt = false;
  DB_Kavro->SetSQLDialect(1);
  DB_Kavro->SetDefaultTransaction(Trans_Kavro.get());
  Trans_Kavro->SetDefaultDatabase(DB_Kavro.get());
  Trans_Kavro->SetParams({"read_committed", "rec_version", "nowait"});

  Q_Musicas->SetDatabase(DB_Kavro.get());
  Q_Musicas->SetTransaction(Trans_Kavro.get());
  Q_Musicas->SQL().Add(kSongListStatement);
  // The song list's fields, in their stored order.
  Q_MusicasMUS_CODIGO->SetDataSet(Q_Musicas.get());
  Q_MusicasMUS_NOME->SetDataSet(Q_Musicas.get());
  Q_MusicasMUS_INTERPRETE->SetDataSet(Q_Musicas.get());
  Q_MusicasMUS_COMPOSITOR->SetDataSet(Q_Musicas.get());
  Ds_Musicas->SetDataSet(Q_Musicas.get());

  Q_Atualizar->SetDatabase(DB_Kavro.get());
  Q_Atualizar->SetTransaction(Trans_Kavro.get());

  ProgressBar1 = form->AddProgressBar(kProgressBar1);
  lblAtual = form->AddLabel(kLblAtual);
  lblTotal = form->AddLabel(kLblTotal);
  form->SetOnShow([this] { FormShow(); });
  if (FrmPrincipal == nullptr) FrmPrincipal = this;
}

TFrmPrincipal::~TFrmPrincipal() {
  if (FrmPrincipal == this) FrmPrincipal = nullptr;
  // Fields and queries let go of the connection before it closes; the connection then ends
  // the transaction as its own destruction does.
  Q_MusicasMUS_CODIGO.reset();
  Q_MusicasMUS_COMPOSITOR.reset();
  Q_MusicasMUS_INTERPRETE.reset();
  Q_MusicasMUS_NOME.reset();
  Ds_Musicas.reset();
  Q_Atualizar.reset();
  Q_Musicas.reset();
}

void TFrmPrincipal::FormShow() {
  ConnectDatabase();
}

bool TFrmPrincipal::ConnectDatabase() {
  DB_Kavro->SetConnected(false);
  const std::string settings = SettingsDirectory + app::kSettingsFileName;
  if (!rt::FileExists(settings)) {
    application_.ShowMessage(app::kSettingsMissingMessage);
    return false;
  }
  if (!passwordWarned_) {
    if (auto warning = app::ExposedPasswordWarning(settings)) {
      application_.WriteDiagnostic(*warning);
      passwordWarned_ = true;
    }
  }
  try {
    DB_Kavro->SetDatabaseName(
        rt::ReadProfileString(settings, app::kSettingsSection, app::kSettingsKey, ""));
    DB_Kavro->SetParams(app::LoginParams(app::ReadLogin(settings, {kUser, kPassword})));
    DB_Kavro->SetConnected(true);
    Q_Musicas->Open();
    return true;
  } catch (const std::exception& failure) {
    // The box keeps its one fixed text; the failure's own text goes to standard error, so that
    // a missing file, a refused permission and an unreadable database can be told apart.
    application_.ShowMessage(app::kConnectFailedMessage);
    application_.WriteDiagnostic(failure.what());
    return false;
  } catch (...) {
    application_.ShowMessage(app::kConnectFailedMessage);
    return false;
  }
}

std::string TFrmPrincipal::FindComposer(const std::string& performer, const std::string& title) {
  const std::string base = app::LyricsBaseAddress();
  const std::string performerName = app::PageName(performer);
  const std::string titleName = app::PageName(title);
  LastLookup.Start();
  for (std::size_t attempt = 0; attempt < app::kPageSuffixes.size(); ++attempt) {
    const std::string address = app::PageAddressOfNames(base, performerName, titleName, attempt);
    // A fresh text per attempt: a refused answer's body must not stand in for the page.
    std::string page;
    redirects_.Start(address);
    try {
      // A refused answer (a missing page is the common case) comes back as false rather than
      // as a raised failure; both mean the same here.
      if (!IdHTTP1->TryGetPage(address, page)) {
        LastLookup.Refused(IdHTTP1->Response());
        if (Report)
          Report->Attempt(redirects_.Address(),
                          redirects_.Outcome(app::AnswerOutcome(IdHTTP1->Response().StatusLine)),
                          "");
        CheckProxyAnswer();
        continue;
      }
    } catch (const app::EProxySetting&) {
      throw;  // no address can be had through that proxy
    } catch (const std::exception& failure) {
      LastLookup.Failed(failure);
      if (Report) Report->Attempt(redirects_.Address(), failure.what(), "");
      continue;  // any failure of a fetch: try the next address
    } catch (...) {
      if (Report) Report->Attempt(redirects_.Address(), "", "");
      continue;
    }
    std::string composer = app::ExtractComposer(page, IdHTTP1->Response().ContentType);
    LastLookup.Page(IdHTTP1->Response().BodyCut && composer.empty());
    if (Report)
      Report->Attempt(redirects_.Address(), app::AnswerOutcome(IdHTTP1->Response().StatusLine),
                      composer);
    return composer;
  }
  return {};
}

void TFrmPrincipal::IdHTTP1Redirect(TIdCustomHTTP& sender, std::string& location,
                                    std::string& /*verb*/, int hopCount, bool& handled) {
  const TIdHTTPResponse& answer = sender.Response();
  const std::string from = redirects_.Address();
  handled = redirects_.Follow(location, hopCount, sender.RedirectMaximum,
                              answer.HeaderLines.IndexOfHeader("Set-Cookie") >= 0);
  // A redirect not followed ends the attempt, and FindComposer reports it with the reason.
  if (handled && Report) Report->Attempt(from, app::AnswerOutcome(answer.StatusLine), "");
}

void TFrmPrincipal::IdHTTP1SelectProxy(TIdCustomHTTP& /*sender*/, const TIdURI& address,
                                       TIdProxyConnectionInfo& proxy) {
  const app::Proxy* chosen = proxies_.For(address.SchemeName, address.HostName);
  if (chosen == nullptr) {
    proxy.ProxyServer.clear();
    return;
  }
  proxy.ProxyServer = chosen->host;
  proxy.ProxyPort = chosen->port;
  proxy.ProxyUsername = chosen->username;
  proxy.ProxyPassword = chosen->password;
  proxy.BasicAuthentication = chosen->credentials;
}

void TFrmPrincipal::UseProxies(app::ProxyEnvironment proxies) {
  if (const app::Proxy* unusable = proxies.Unusable())
    throw app::EProxySetting(
        rt::FillIn(app::kProxyUnusableMessage, {unusable->shown, unusable->variable}));
  proxies_ = std::move(proxies);
  IdHTTP1->ProxyParams.ProxyServer.clear();
  // Without proxies the straight route is asked nothing.
  if (proxies_.Empty())
    IdHTTP1->OnSelectProxy = nullptr;
  else
    IdHTTP1->OnSelectProxy = [this](TIdCustomHTTP& sender, const TIdURI& address,
                                    TIdProxyConnectionInfo& proxy) {
      IdHTTP1SelectProxy(sender, address, proxy);
    };
}

void TFrmPrincipal::CheckProxyAnswer() {
  const TIdHTTPRouteKind route = IdHTTP1->Request().Route;
  if (route != TIdHTTPRouteKind::rkProxy && route != TIdHTTPRouteKind::rkSecureProxy) return;
  const TIdHTTPResponse& answer = IdHTTP1->Response();
  if (answer.StatusCode() != kProxyAuthenticationRequired) return;
  const TIdURI& address = IdHTTP1->CurrentAddress();
  const app::Proxy* proxy = proxies_.For(address.SchemeName, address.HostName);
  throw app::EProxySetting(
      rt::FillIn(app::kProxyRefusedMessage,
                 {proxy ? proxy->shown : "", proxy ? proxy->variable : "", answer.StatusLine}));
}

void TFrmPrincipal::UpdateSong(const std::string& stored, app::SitePatience& patience) {
  const std::string title = Q_MusicasMUS_NOME->StringValue();
  const std::string performer = Q_MusicasMUS_INTERPRETE->StringValue();
  if (Report) Report->Song(Q_MusicasMUS_CODIGO->StringValue(), performer, title, stored);
  std::string composer = FindComposer(performer, title);
  while (!LastLookup.LookedUp()) {
    if (patience.MayLeave()) {
      // One broken page must not stop the run: the song is left for a later run.
      patience.Left();
      ++Tally.left;
      return;
    }
    WaitForSite(patience);
    composer = FindComposer(performer, title);
  }
  patience.LookedUp(std::chrono::steady_clock::now());
  ++Tally.lookedUp;
  if (composer.empty()) return;
  ++Tally.found;
  if (Options.dryRun) return;
  Q_Atualizar->Close();
  Q_Atualizar->GetParam("Compositor")->AssignString(composer);
  Q_Atualizar->GetParam("Codigo")->AssignInteger(Q_MusicasMUS_CODIGO->IntegerValue());
  try {
    Q_Atualizar->ExecuteSql();
  } catch (const EIBError& failure) {
    // Another run is writing this song right now; it is not written, nor asked again.
    if (!db::IsRowInUse(failure)) throw;
    ++Tally.inUse;
    return;
  }
  ++Tally.written;
}

void TFrmPrincipal::WaitForSite(app::SitePatience& patience) {
  const auto now = std::chrono::steady_clock::now();
  const auto wait = patience.NextWait(LastLookup, now);
  if (!wait) throw app::ESiteSilent(patience.SilentSeconds(now), LastLookup.Trouble());
  // What was written before the site went away does not wait for it to come back.
  CommitWritten(true);
  const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(*wait);
  const int64_t waitSeconds = std::chrono::ceil<std::chrono::seconds>(waitMs).count();
  lblAtual->SetCaption(
      rt::FillIn(app::kWaitingForSiteText, {rt::IntToStr(waitSeconds), LastLookup.Trouble()}));
  application_.Wait(waitMs);
  lblAtual->SetCaption("Registro atual: " + rt::IntToStr(Tally.done));
}

void TFrmPrincipal::CommitWritten(bool now) {
  if (Tally.written == Tally.committed) return;
  const auto at = std::chrono::steady_clock::now();
  if (!now && at - lastCommit_ < app::kCommitInterval) return;
  Trans_Kavro->CommitRetaining();
  Tally.committed = Tally.written;
  lastCommit_ = at;
}

void TFrmPrincipal::btnBuscarClick() {
  if (!DB_Kavro->Connected() && !ConnectDatabase()) throw EAbort();
  Tally = {};
  UseProxies(app::ProxyEnvironment::Read());
  // A report that cannot be opened stops the run before it starts; one that cannot be written
  // later only says so.
  Report = Options.reportFile.empty()
               ? nullptr
               : std::make_unique<app::LookupReport>(Options.reportFile, [this](const auto& text) {
                   application_.WriteDiagnostic(text);
                 });

  btnBuscar->SetEnabled(false);
  std::exception_ptr failure;
  std::string failureText;
  bool lost = false;  // the failure says the database's attachment is gone
  std::optional<app::ESiteSilent> silent;
  try {
    if (Q_Musicas->Active())
      Q_Musicas->MoveFirst();
    else
      Q_Musicas->Open();

    Q_Atualizar->Close();
    Q_Atualizar->SQL().Clear();
    Q_Atualizar->SQL().Add(app::kCountStatement);
    Q_Atualizar->Open();
    Tally.total = Q_Atualizar->Fields()[0]->IntegerValue();
    lblTotal->SetCaption("Total: " + rt::IntToStr(Tally.total));
    ProgressBar1->SetMax(Tally.total);

    Q_Atualizar->Close();
    Q_Atualizar->SQL().Clear();
    Q_Atualizar->SQL().Add(app::kUpdateStatement);

    lastCommit_ = std::chrono::steady_clock::now();
    app::SitePatience patience(Options.maxWait, lastCommit_);
    // The stored composer is read only when something asks for it.
    const bool readStored = Report != nullptr || Options.onlyMissing;
    while (!Q_Musicas->AtEnd()) {
      const std::string stored = readStored ? Q_MusicasMUS_COMPOSITOR->StringValue() : "";
      if (Options.onlyMissing && app::HasValue(stored))
        ++Tally.skipped;
      else
        UpdateSong(stored, patience);
      Q_Musicas->MoveNext();
      ++Tally.done;
      lblAtual->SetCaption("Registro atual: " + rt::IntToStr(Tally.done));
      ProgressBar1->SetPosition(Tally.done);
      CommitWritten(false);
      application_.ProcessMessages();
    }
  } catch (const app::ESiteSilent& stop) {
    silent = stop;
  } catch (const EIBError& caught) {
    failure = std::current_exception();
    failureText = caught.what();
    lost = db::IsConnectionLost(caught);
  } catch (const std::exception& caught) {
    failure = std::current_exception();
    failureText = caught.what();
  } catch (...) {
    failure = std::current_exception();
  }
  // Always: the button comes back and what was done becomes permanent (a dry run takes all of
  // it back). A failing commit's failure is the one that travels on. A lost connection has
  // nothing left to commit: trying would only report its loss again, or "Transaction is not
  // active" in place of the failure that says what happened. Only a lost connection closes the
  // database during a run (a statement's call closes it as it reports the loss).
  btnBuscar->SetEnabled(true);
  Tally.reportIncomplete = Report != nullptr && Report->Incomplete();
  Tally.siteSilent = silent.has_value();
  Report.reset();
  lost = lost || (failure && !DB_Kavro->Connected());
  if (!lost && (!failure || Trans_Kavro->Active())) {
    try {
      if (Options.dryRun) {
        Trans_Kavro->RollbackRetaining();
      } else {
        Trans_Kavro->CommitRetaining();
        Tally.committed = Tally.written;
      }
      Tally.ended = true;
    } catch (const EIBError& caught) {
      if (!db::IsConnectionLost(caught) && DB_Kavro->Connected()) throw;
      failure = std::current_exception();
      failureText = caught.what();
      lost = true;
    }
  }
  // What was committed before the loss stays; the run stops and says so. The attachment is let
  // go (a transaction's call reports the loss without closing it), so that the next press of
  // the button connects again.
  if (lost) {
    DB_Kavro->AbortConnection();
    Tally.connectionLost = true;
    application_.ShowMessage(app::ConnectionLostLine(Tally, failureText, Options.dryRun));
    return;
  }
  if (failure) std::rethrow_exception(failure);

  if (silent)
    application_.ShowMessage(app::SiteSilentLine(Tally, *silent, Options.dryRun));
  else
    application_.ShowMessage(Options.dryRun ? app::kDryRunCompletedMessage
                                            : app::kCompletedMessage);
}

namespace app {

bool HasValue(const std::string& storedComposer) {
  return !rt::TrimView(storedComposer).empty();
}

const char* StoppedRunOutcome(const RunTally& tally, bool dryRun) {
  if (dryRun) return kNothingWritten;
  return tally.ended ? kChangesKept : kChangesLost;
}

std::string SiteSilentLine(const RunTally& tally, const ESiteSilent& stop, bool dryRun) {
  return rt::FillIn(kSiteSilentMessage,
                    {rt::IntToStr(stop.Seconds), stop.Trouble, rt::IntToStr(tally.done),
                     rt::IntToStr(tally.total), StoppedRunOutcome(tally, dryRun)});
}

std::string ConnectionLostLine(const RunTally& tally, const std::string& reason, bool dryRun) {
  // The engine's reason stays on the one line.
  std::string said = rt::Trim(rt::ReplaceAll(rt::ReplaceAll(reason, "\r\n", " "), "\n", " "));
  return rt::FillIn(kConnectionLostMessage,
                    {said, rt::IntToStr(tally.done), rt::IntToStr(tally.total),
                     dryRun ? std::string(kNothingWritten)
                            : rt::FillIn(kCommittedKept, {rt::IntToStr(tally.committed)})});
}

int RunProgram(ui::Application& application, const RunOptions& options) {
  application.SetTitle(kApplicationTitle);
  TFrmPrincipal window(application);
  window.Options = options;
  application.Run();
  return 0;
}

}  // namespace app
