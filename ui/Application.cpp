#include "ui/Application.h"

#include <cstdio>

#include "runtime/Exception.h"
#include "runtime/Text.h"

namespace ui {

std::string Application::FailureText(const std::exception& failure) {
  std::string text = failure.what();
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
    text += '.';
  return text;
}

std::string Application::DiagnosticLines(const std::string& text) {
  std::string lines = rt::Win1252ToUtf8(rt::ReplaceAll(text, "\r\n", "\n"));
  if (lines.empty() || lines.back() != '\n') lines += '\n';
  return lines;
}

void Application::WriteDiagnostic(const std::string& text) {
  const std::string lines = DiagnosticLines(text);
  std::fwrite(lines.data(), 1, lines.size(), stderr);
  std::fflush(stderr);
}

void Application::ShowException(const std::exception& failure) {
  if (dynamic_cast<const EAbort*>(&failure) != nullptr) return;
  ShowErrorBox(FailureText(failure));
}

bool Application::HandleEvent(const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (const std::exception& failure) {
    ShowException(failure);
    return false;
  }
}

}  // namespace ui
