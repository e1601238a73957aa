// The console program's update run: the button pressed once on a window whose show event has
// connected it, and how the run ended, said in words and in the exit status.
//
// During the run the first SIGINT or SIGTERM stops it after the song in progress, or at once
// during a wait for the lyrics site (the console front-end's ProcessMessages and Wait raise the
// silent abort); the run's protected section keeps the songs done, as it does for any failure. A
// signal before the run or after it keeps the plain effect of ending the program after the run.
#pragma once

#include <string>

#include "app/U_Principal.h"
#include "ui/ConsoleApplication.h"

namespace app {

inline constexpr int kExitCompleted = 0;  // the run went to its end
inline constexpr int kExitFailed = 1;     // no database, the run failed, or it lost the database
// The lyrics site gave nothing but trouble for the max wait; the songs done were kept.
inline constexpr int kExitSiteSilent = 3;
// A signal that stopped the run ends the program as the shell reports a signal: 128 + its number.
inline constexpr int kExitBySignal = 128;

// The counts of a run, one line: songs looked up, composers found, rows written, songs skipped,
// songs another run was writing and songs left not looked up (each when there were any), and
// whether the report is incomplete. Rows count as written only once they were committed.
std::string SummaryLine(const RunTally& tally);

// The line that stands for the completion message when a signal stopped the run: how many songs
// of the total were done, and whether the changes were kept.
std::string InterruptedLine(const RunTally& tally, bool dryRun);

// Runs the update once on `window`, when its database is connected, and says how it ended:
// the summary on standard error, the interruption line when a signal stopped it. Returns the
// exit status.
int RunFromConsole(TFrmPrincipal& window, ui::ConsoleApplication& application);

}  // namespace app
