#include "tests/support/RecordingApplication.h"

#include <thread>

#include "runtime/Exception.h"

namespace test {

RecordingLabel::RecordingLabel(const ui::LabelLayout& layout)
    : layout_(layout),
      caption_(layout.caption),
      bounds_(ui::AutoSizedBounds(layout, ui::EstimatedTextWidth(layout.caption))) {}

void RecordingLabel::SetCaption(const std::string& text) {
  caption_ = text;
  bounds_ = ui::AutoSizedBounds(layout_, ui::EstimatedTextWidth(text));
  history_.push_back(text);
}

RecordingButton::RecordingButton(const ui::ButtonLayout& layout, std::function<void()> onClick,
                                 RecordingApplication& app)
    : layout_(layout), onClick_(std::move(onClick)), app_(app) {}

void RecordingButton::SetEnabled(bool enabled) {
  enabled_ = enabled;
  history_.push_back(enabled);
}

void RecordingButton::Click() {
  if (enabled_ && onClick_) app_.HandleEvent(onClick_);
}

RecordingProgressBar::RecordingProgressBar(const ui::ProgressBarLayout& layout)
    : name_(layout.name), max_(layout.max), position_(layout.position) {}

void RecordingProgressBar::SetMax(int max) {
  max_ = max;
  maxHistory_.push_back(max);
}

void RecordingProgressBar::SetPosition(int position) {
  position_ = position;
  positionHistory_.push_back(position);
}

ui::Label* RecordingForm::AddLabel(const ui::LabelLayout& layout) {
  labels_.push_back(std::make_unique<RecordingLabel>(layout));
  return labels_.back().get();
}

ui::Button* RecordingForm::AddButton(const ui::ButtonLayout& layout,
                                     std::function<void()> onClick) {
  buttons_.push_back(std::make_unique<RecordingButton>(layout, std::move(onClick), app_));
  return buttons_.back().get();
}

ui::ProgressBar* RecordingForm::AddProgressBar(const ui::ProgressBarLayout& layout) {
  bars_.push_back(std::make_unique<RecordingProgressBar>(layout));
  return bars_.back().get();
}

namespace {
template <typename T>
T* FindByName(const std::vector<std::unique_ptr<T>>& list, const std::string& name) {
  for (const auto& control : list)
    if (control->Name() == name) return control.get();
  return nullptr;
}
}  // namespace

RecordingLabel* RecordingForm::FindLabel(const std::string& name) const {
  return FindByName(labels_, name);
}

RecordingButton* RecordingForm::FindButton(const std::string& name) const {
  return FindByName(buttons_, name);
}

RecordingProgressBar* RecordingForm::FindProgressBar(const std::string& name) const {
  return FindByName(bars_, name);
}

void RecordingForm::Show() {
  if (onShow_) app_.HandleEvent(onShow_);
  shown_ = true;
}

ui::Form* RecordingApplication::CreateForm(const ui::FormLayout& layout) {
  forms_.push_back(std::make_unique<RecordingForm>(layout, *this));
  return forms_.back().get();
}

void RecordingApplication::Run() {
  if (RecordingForm* form = MainForm()) form->Show();
}

void RecordingApplication::ShowMessage(const std::string& text) {
  messages_.push_back(text);
}

void RecordingApplication::Wait(std::chrono::milliseconds duration) {
  waits_.push_back(duration);
  ProcessMessages();
  if (Terminated()) throw EAbort();
  std::this_thread::sleep_for(duration);
}

void RecordingApplication::ProcessMessages() {
  ++processCalls_;
  if (pendingInput_) {
    auto input = std::move(pendingInput_);
    pendingInput_ = nullptr;
    input();
  }
}

}  // namespace test
