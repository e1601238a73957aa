// The main window: the progress of the update run, the one button that starts it, and the
// components the run works with.
#pragma once

#include <memory>
#include <string>

#include "ui/Application.h"

class TFrmPrincipal {
 public:
  // Creates the window on `application` with all its controls and components. The window
  // system owns the form; this object owns the components.
  explicit TFrmPrincipal(ui::Application& application);
  ~TFrmPrincipal();
  TFrmPrincipal(const TFrmPrincipal&) = delete;
  TFrmPrincipal& operator=(const TFrmPrincipal&) = delete;

  // Event handlers.
  void FormShow();
  void btnBuscarClick();

  // Members, in the window's declaration order.
  ui::Button* btnBuscar = nullptr;
  ui::ProgressBar* ProgressBar1 = nullptr;
  ui::Label* lblAtual = nullptr;
  ui::Label* lblTotal = nullptr;

 private:
  ui::Application& application_;
};

// The program's one main window, while it exists.
extern TFrmPrincipal* FrmPrincipal;

namespace app {

// The application title: task-bar text and the caption of every message box.
inline constexpr const char* kApplicationTitle = "Lirenta";

// Start-up: sets the title, creates the main window, runs the message loop, and destroys the
// window when the loop ends. Returns the program's exit code.
int RunProgram(ui::Application& application);

}  // namespace app
