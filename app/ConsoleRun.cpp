#include "app/ConsoleRun.h"

#include "runtime/Text.h"

namespace app {

std::string SummaryLine(const RunTally& tally) {
  std::string line = "Resumo: " + rt::IntToStr(tally.lookedUp) + " m\xFAsicas consultadas, " +
                     rt::IntToStr(tally.found) + " compositores encontrados, " +
                     rt::IntToStr(tally.committed) + " registros gravados, " +
                     rt::IntToStr(tally.skipped) + " m\xFAsicas puladas";
  if (tally.inUse > 0)
    line += ", " + rt::IntToStr(tally.inUse) + " m\xFAsicas em uso por outra execu\xE7\xE3o";
  if (tally.left > 0) line += ", " + rt::IntToStr(tally.left) + " m\xFAsicas n\xE3o consultadas";
  line += ".";
  if (tally.reportIncomplete) line += " O relat\xF3rio ficou incompleto.";
  return line;
}

std::string InterruptedLine(const RunTally& tally, bool dryRun) {
  return "Interrompido ap\xF3s " + rt::IntToStr(tally.done) + " de " + rt::IntToStr(tally.total) +
         " m\xFAsicas; " + StoppedRunOutcome(tally, dryRun);
}

int RunFromConsole(TFrmPrincipal& window, ui::ConsoleApplication& application) {
  if (!window.DB_Kavro->Connected()) return kExitFailed;
  application.InterruptOnSignal(true);
  // The click handler reaches its end only after the run committed and said so.
  const bool completed = application.HandleEvent([&] { window.btnBuscarClick(); });
  application.InterruptOnSignal(false);
  const int signal = application.InterruptingSignal();
  if (signal != 0) application.ShowMessage(InterruptedLine(window.Tally, window.Options.dryRun));
  application.WriteDiagnostic(SummaryLine(window.Tally));
  if (signal != 0) return kExitBySignal + signal;
  if (window.Tally.siteSilent) return kExitSiteSilent;
  if (window.Tally.connectionLost) return kExitFailed;
  return completed ? kExitCompleted : kExitFailed;
}

}  // namespace app
