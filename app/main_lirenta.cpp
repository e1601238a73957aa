// The window program. Its command line is read before anything else, so that --help, --version
// and a refused option need no display.
#include <cstdio>

#include "app/CommandLine.h"
#include "app/U_Principal.h"
#include "db/EngineLockFolder.h"
#include "runtime/TerminationSignals.h"
#include "ui/fltk/FltkApplication.h"

int main(int argc, char** argv) {
  app::RunOptions options;
  if (int status = app::ReadCommandLine("lirenta", argc, argv, options, stdout, stderr);
      status != app::kCommandLineRun)
    return status;
  // Before anything starts a thread: SIGTERM and SIGINT close the window, as its close box does.
  rt::WatchTerminationSignals();
  ui::FltkApplication application;
  // Before the window's database components load the client library.
  if (auto refusal = db::UsePrivateLockFolder()) application.WriteDiagnostic(*refusal);
  return app::RunProgram(application, options);
}
