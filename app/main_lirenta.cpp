// The window program.
#include "app/U_Principal.h"
#include "db/EngineLockFolder.h"
#include "runtime/TerminationSignals.h"
#include "ui/fltk/FltkApplication.h"

int main() {
  // Before anything starts a thread: SIGTERM and SIGINT close the window, as its close box does.
  rt::WatchTerminationSignals();
  ui::FltkApplication application;
  // Before the window's database components load the client library.
  if (auto refusal = db::UsePrivateLockFolder()) application.WriteDiagnostic(*refusal);
  return app::RunProgram(application);
}
