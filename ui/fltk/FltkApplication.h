// The window-system layer on FLTK 1.3: a fixed-size window centred on the screen, self-sizing
// labels, a smooth progress bar, modal message boxes with the application title as caption.
// Texts arrive as Windows-1252 and are handed to FLTK as UTF-8. When the program watches the
// termination signals (runtime/TerminationSignals.h), the first one closes the main window.
#pragma once

#include <memory>
#include <vector>

#include "ui/Application.h"

namespace ui {

class FltkForm;

class FltkApplication : public Application {
 public:
  FltkApplication();
  ~FltkApplication() override;

  Form* CreateForm(const FormLayout& layout) override;
  void Run() override;
  void ShowMessage(const std::string& text) override;
  void ProcessMessages() override;
  // Runs the message loop until the time is up.
  void Wait(std::chrono::milliseconds duration) override;

 protected:
  void ShowErrorBox(const std::string& text) override;

 private:
  static void EndRequested(int descriptor, void* self);
  void ShowBox(const std::string& text, bool errorIcon);

  std::vector<std::unique_ptr<FltkForm>> forms_;
};

}  // namespace ui
