#include "ui/Application.h"

#include "runtime/Exception.h"

namespace ui {

std::string Application::FailureText(const std::exception& failure) {
  std::string text = failure.what();
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
    text += '.';
  return text;
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
