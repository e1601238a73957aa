// The window program.
#include "app/U_Principal.h"
#include "runtime/TerminationSignals.h"
#include "ui/fltk/FltkApplication.h"

int main() {
  // Before anything starts a thread: SIGTERM and SIGINT close the window, as its close box does.
  rt::WatchTerminationSignals();
  ui::FltkApplication application;
  return app::RunProgram(application);
}
