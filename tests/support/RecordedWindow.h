// The main window in this process on the recording front-end, for the suites that drive the
// update run without a screen: its settings file in a folder of its own, the lyrics site's
// address in the environment while the object lives.
#pragma once

#include <memory>
#include <string>

#include "app/U_Principal.h"
#include "tests/support/Process.h"
#include "tests/support/RecordingApplication.h"

namespace test {

class RecordedWindow {
 public:
  // `siteUrl` defaults to a closed port of 127.0.0.1.
  explicit RecordedWindow(const std::string& siteUrl = "http://127.0.0.1:9/");
  ~RecordedWindow();  // destroys the window, then unsets the address
  RecordedWindow(const RecordedWindow&) = delete;
  RecordedWindow& operator=(const RecordedWindow&) = delete;

  void SetSite(const std::string& siteUrl);
  // Writes BaseKavro.ini as given, or naming `databaseName`.
  void Settings(const std::string& content);
  void PointAt(const std::string& databaseName);
  const TempDir& Folder() const { return settings_; }

  // Creates the window (after setting the application title) reading its settings from the
  // folder; Close destroys it, which detaches from the database.
  TFrmPrincipal& Open();
  void Close() { window_.reset(); }
  TFrmPrincipal& Window() { return *window_; }
  test::RecordingButton& Button() { return *app.MainForm()->FindButton("btnBuscar"); }
  // Shows the window (its show event connects) and presses the button once.
  void ShowAndClick();

  test::RecordingApplication app;

 private:
  TempDir settings_;
  std::unique_ptr<TFrmPrincipal> window_;
};

}  // namespace test
