#include "ui/RecordingApplication.h"

namespace ui {

RecordingLabel::RecordingLabel(const LabelLayout& layout)
    : layout_(layout),
      caption_(layout.caption),
      bounds_(AutoSizedBounds(layout, EstimatedTextWidth(layout.caption))) {}

void RecordingLabel::SetCaption(const std::string& text) {
  caption_ = text;
  bounds_ = AutoSizedBounds(layout_, EstimatedTextWidth(text));
  history_.push_back(text);
}

RecordingButton::RecordingButton(const ButtonLayout& layout, std::function<void()> onClick,
                                 RecordingApplication& app)
    : layout_(layout), onClick_(std::move(onClick)), app_(app) {}

void RecordingButton::SetEnabled(bool enabled) {
  enabled_ = enabled;
  history_.push_back(enabled);
}

void RecordingButton::Click() {
  if (enabled_ && onClick_) app_.HandleEvent(onClick_);
}

RecordingProgressBar::RecordingProgressBar(const ProgressBarLayout& layout)
    : name_(layout.name), max_(layout.max), position_(layout.position) {}

void RecordingProgressBar::SetMax(int max) {
  max_ = max;
  maxHistory_.push_back(max);
}

void RecordingProgressBar::SetPosition(int position) {
  position_ = position;
  positionHistory_.push_back(position);
}

Label* RecordingForm::AddLabel(const LabelLayout& layout) {
  labels_.push_back(std::make_unique<RecordingLabel>(layout));
  return labels_.back().get();
}

Button* RecordingForm::AddButton(const ButtonLayout& layout, std::function<void()> onClick) {
  buttons_.push_back(std::make_unique<RecordingButton>(layout, std::move(onClick), app_));
  return buttons_.back().get();
}

ProgressBar* RecordingForm::AddProgressBar(const ProgressBarLayout& layout) {
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

Form* RecordingApplication::CreateForm(const FormLayout& layout) {
  forms_.push_back(std::make_unique<RecordingForm>(layout, *this));
  return forms_.back().get();
}

void RecordingApplication::Run() {
  if (RecordingForm* form = MainForm()) form->Show();
}

void RecordingApplication::ShowMessage(const std::string& text) {
  messages_.push_back(text);
}

void RecordingApplication::ProcessMessages() {
  ++processCalls_;
  if (pendingInput_) {
    auto input = std::move(pendingInput_);
    pendingInput_ = nullptr;
    input();
  }
}

}  // namespace ui
