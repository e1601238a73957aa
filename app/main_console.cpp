// The console program: the main window over a front-end without a display. It runs start-up
// and the show event; when the database is then connected it presses the button once, and
// ends. Exit statuses: app/ConsoleRun.h, and the command line's own (app/CommandLine.h) when it
// ends the program first.
#include <unistd.h>

#include <cstdio>

#include "app/CommandLine.h"
#include "app/ConsoleRun.h"
#include "app/U_Principal.h"
#include "db/EngineLockFolder.h"
#include "ui/ConsoleApplication.h"

int main(int argc, char** argv) {
  app::RunOptions options;
  if (int status = app::ReadCommandLine("lirenta-console", argc, argv, options, stdout, stderr);
      status != app::kCommandLineRun)
    return status;
  ui::ConsoleApplication application(stdout, stderr, isatty(STDERR_FILENO) != 0);
  application.WatchSignals();
  // Before the window's database components load the client library.
  if (auto refusal = db::UsePrivateLockFolder()) application.WriteDiagnostic(*refusal);
  application.SetTitle(app::kApplicationTitle);
  TFrmPrincipal window(application);
  window.Options = options;
  application.Run();
  return app::RunFromConsole(window, application);
}
