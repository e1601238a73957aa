// The window-system layer for machines without a display and for scripts.
//
// Message boxes become lines on standard output, in UTF-8 (CR LF inside a text become line
// feeds). The labels and the progress bar are drawn on standard error: a live bar with count,
// total, rate and time left when standard error is a terminal, otherwise a plain line every 5%.
// There is no message loop: Run() runs the main form's show event and returns.
// The first SIGINT or SIGTERM only tells the application to end (a running update still
// finishes and commits, as closing the window does), unless the program asked for loops to be
// interrupted (InterruptOnSignal), or a wait is under way (Wait); a second one ends the
// process. While a wait lasts, the text of the label that describes the progress stands in the
// progress bar's place.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ui/Application.h"

namespace ui {

class ConsoleForm;

class ConsoleApplication : public Application {
 public:
  // `out` receives message boxes, `err` the labels and the progress; `errIsTerminal` chooses
  // the live bar.
  ConsoleApplication(std::FILE* out, std::FILE* err, bool errIsTerminal);
  ~ConsoleApplication() override;

  Form* CreateForm(const FormLayout& layout) override;
  void Run() override;
  void ShowMessage(const std::string& text) override;
  void ProcessMessages() override;
  void WriteDiagnostic(const std::string& text) override;
  // Sleeps, and wakes at once for the first SIGINT or SIGTERM: the wait then ends with the silent
  // abort, and InterruptingSignal names the signal.
  void Wait(std::chrono::milliseconds duration) override;

  // Every message box text shown so far, as Windows-1252.
  const std::vector<std::string>& Messages() const { return messages_; }
  // Takes SIGINT and SIGTERM away from every handler (see runtime/TerminationSignals.h); the
  // first then tells the application to end at its next ProcessMessages. Call before anything
  // starts a thread, and so before the main window's components exist.
  void WatchSignals();
  // While on, the first SIGINT or SIGTERM makes the next ProcessMessages raise the silent abort
  // (and tell the application to end): a loop that processes messages between its steps stops
  // after the step in progress, and its protected section ends it as for any failure. A signal
  // that arrived before it was turned on keeps its plain effect.
  void InterruptOnSignal(bool on);
  // The signal that interrupted a loop (SIGINT or SIGTERM); 0 when none did.
  int InterruptingSignal() const { return interruptingSignal_; }

  // Called by the console controls. A label that describes the progress is drawn with the
  // progress bar; every other label change gets a line of its own.
  void LabelChanged(const std::string& caption);
  void ProgressTextChanged(const std::string& caption);
  void ProgressChanged(int max, int position);

 protected:
  void ShowErrorBox(const std::string& text) override;

 private:
  void WriteBox(const std::string& text);
  // The progress text on its own: on the bar's line on a terminal, else as a line.
  void DrawProgressText();
  // Tells the application to end because of a signal; with `interrupt`, raises the silent abort.
  void EndOnSignal(bool interrupt);
  void DrawBar(int max, int position);
  void EndBarLine();

  std::FILE* out_;
  std::FILE* err_;
  bool errIsTerminal_;
  bool interruptible_ = false;
  int interruptingSignal_ = 0;
  std::vector<std::unique_ptr<ConsoleForm>> forms_;
  std::vector<std::string> messages_;
  std::string progressText_;
  bool barOnScreen_ = false;
  int lastReportedStep_ = -1;
  std::chrono::steady_clock::time_point runStart_;
};

// Formats the live progress line: bar, count/total, rate per second and estimated time left.
std::string FormatProgressLine(int position, int max, double elapsedSeconds, int barWidth = 30);

}  // namespace ui
