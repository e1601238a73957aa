#include "tests/support/RecordedWindow.h"

#include <cstdlib>

#include "app/ComposerLookup.h"

namespace test {

RecordedWindow::RecordedWindow(const std::string& siteUrl) {
  SetSite(siteUrl);
  // The window reads the proxies of this process's environment: never the machine's.
  for (const char* name : kProxyVariables) unsetenv(name);
}

RecordedWindow::~RecordedWindow() {
  window_.reset();
  unsetenv(app::kLyricsAddressVariable);
}

void RecordedWindow::SetSite(const std::string& siteUrl) {
  setenv(app::kLyricsAddressVariable, siteUrl.c_str(), 1);
}

void RecordedWindow::Settings(const std::string& content) {
  WriteFile(settings_.File(app::kSettingsFileName), content);
}

void RecordedWindow::PointAt(const std::string& databaseName) {
  Settings("[BANCO]\r\nCAMINHO=" + databaseName + "\r\n");
}

TFrmPrincipal& RecordedWindow::Open() {
  app.SetTitle(app::kApplicationTitle);
  window_ = std::make_unique<TFrmPrincipal>(app);
  window_->SettingsDirectory = settings_.Path() + "/";
  return *window_;
}

void RecordedWindow::ShowAndClick() {
  app.Run();
  Button().Click();
}

}  // namespace test
