// The window program.
#include "app/U_Principal.h"
#include "ui/fltk/FltkApplication.h"

int main() {
  ui::FltkApplication application;
  return app::RunProgram(application);
}
