#include "ui/RecordingApplication.h"

namespace ui {

RecordingLabel::RecordingLabel(const LabelSpec& spec)
    : spec_(spec), caption_(spec.caption), bounds_(AutoSizedBounds(spec, EstimatedTextWidth(spec.caption))) {}

void RecordingLabel::SetCaption(const std::string& text) {
  caption_ = text;
  bounds_ = AutoSizedBounds(spec_, EstimatedTextWidth(text));
  history_.push_back(text);
}

RecordingButton::RecordingButton(const ButtonSpec& spec, std::function<void()> onClick,
                                 RecordingApplication& app)
    : spec_(spec), onClick_(std::move(onClick)), app_(app) {}

void RecordingButton::SetEnabled(bool enabled) {
  enabled_ = enabled;
  history_.push_back(enabled);
}

void RecordingButton::Click() {
  if (enabled_ && onClick_) app_.HandleEvent(onClick_);
}

RecordingProgressBar::RecordingProgressBar(const ProgressBarSpec& spec)
    : name_(spec.name), max_(spec.max), position_(spec.position) {}

void RecordingProgressBar::SetMax(int max) {
  max_ = max;
  maxHistory_.push_back(max);
}

void RecordingProgressBar::SetPosition(int position) {
  position_ = position;
  positionHistory_.push_back(position);
}

Label* RecordingForm::AddLabel(const LabelSpec& spec) {
  labels_.push_back(std::make_unique<RecordingLabel>(spec));
  return labels_.back().get();
}

Button* RecordingForm::AddButton(const ButtonSpec& spec, std::function<void()> onClick) {
  buttons_.push_back(std::make_unique<RecordingButton>(spec, std::move(onClick), app_));
  return buttons_.back().get();
}

ProgressBar* RecordingForm::AddProgressBar(const ProgressBarSpec& spec) {
  bars_.push_back(std::make_unique<RecordingProgressBar>(spec));
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

Form* RecordingApplication::CreateForm(const FormSpec& spec) {
  forms_.push_back(std::make_unique<RecordingForm>(spec, *this));
  return forms_.back().get();
}

void RecordingApplication::Run() {
  if (RecordingForm* form = MainForm()) form->Show();
}

void RecordingApplication::ShowMessage(const std::string& text) { messages_.push_back(text); }

void RecordingApplication::ProcessMessages() {
  ++processCalls_;
  if (pendingInput_) {
    auto input = std::move(pendingInput_);
    pendingInput_ = nullptr;
    input();
  }
}

}  // namespace ui
