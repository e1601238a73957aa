// The window-system layer: what the program needs of a window system, as one interface.
//
// One Application per process. It creates the main form with its controls, runs the message
// loop, shows message boxes with the application title as caption, processes waiting messages
// on request, and shows the failures that escape an event handler. Every event handler the
// program hands over runs through HandleEvent, so such failures reach the default display.
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "ui/Controls.h"

namespace ui {

struct FormLayout {
  std::string name;
  std::string caption;
  int clientWidth = 0;
  int clientHeight = 0;
};

// A form under construction and, later, on screen. Controls belong to the form.
class Form {
 public:
  virtual ~Form() = default;
  virtual Label* AddLabel(const LabelLayout& layout) = 0;
  virtual Button* AddButton(const ButtonLayout& layout, std::function<void()> onClick) = 0;
  virtual ProgressBar* AddProgressBar(const ProgressBarLayout& layout) = 0;
  // Runs just before the form becomes visible, before it is drawn.
  virtual void SetOnShow(std::function<void()> onShow) = 0;
};

class Application {
 public:
  virtual ~Application() = default;

  // 1. Title: the text of the task-bar button and the caption of every message box.
  void SetTitle(const std::string& title) {
    title_ = title;
    TitleChanged();
  }
  const std::string& Title() const { return title_; }

  // 2. Creates a form; the first form created is the main form. The application owns it.
  virtual Form* CreateForm(const FormLayout& layout) = 0;

  // 3. Shows the main form (running its show event first) and runs the message loop until the
  //    application is told to end.
  virtual void Run() = 0;

  // 7. A modal message box: title as caption, the text, one OK button, no icon.
  virtual void ShowMessage(const std::string& text) = 0;

  // 8. Processes every waiting window message, then returns.
  virtual void ProcessMessages() = 0;

  // Waits `duration` and stays responsive meanwhile: a window keeps processing its messages, a
  // program without one sleeps and watches for the signals that end it. When the application is
  // told to end, before the wait or during it, the wait ends there with the silent abort, so
  // that whatever waits stops at once.
  virtual void Wait(std::chrono::milliseconds duration) = 0;

  // 9. The default display of a failure that escaped an event handler.
  void ShowException(const std::exception& failure);

  // Writes `text` (Windows-1252, lines ended by CR LF or LF) on standard error, for whoever
  // reads it (a terminal, the desktop session's log): the cause behind a message box that does
  // not name one. It never appears in a box.
  virtual void WriteDiagnostic(const std::string& text);

  // Runs an event handler; a failure that escapes it goes to ShowException and the program
  // goes on. The silent abort shows nothing. True when the handler ran to its end, false when
  // a failure (the silent abort too) ended it.
  bool HandleEvent(const std::function<void()>& handler);

  // Tells the application to end; the message loop stops at its next turn.
  virtual void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }

  // The text the default display shows for a failure: its message, with "." appended when the
  // last character sorts after ".".
  static std::string FailureText(const std::exception& failure);
  // A diagnostic as it is written: UTF-8, each line ended by LF.
  static std::string DiagnosticLines(const std::string& text);

 protected:
  virtual void TitleChanged() {}
  // A modal box with an error icon, the title as caption and `text`.
  virtual void ShowErrorBox(const std::string& text) = 0;

 private:
  std::string title_;
  bool terminated_ = false;
};

}  // namespace ui
