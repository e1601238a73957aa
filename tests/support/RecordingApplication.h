// A front-end without a screen that records everything the program does to its window, for
// tests: every label text, button state, progress maximum and position, message box text and
// failure text, every diagnostic, how often waiting messages were processed, and every wait
// (which takes its time for real: the run's clock is the real one).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/Application.h"

namespace test {

class RecordingApplication;

class RecordingLabel : public ui::Label {
 public:
  explicit RecordingLabel(const ui::LabelLayout& layout);
  void SetCaption(const std::string& text) override;
  const std::string& Caption() const override { return caption_; }
  ui::Bounds GetBounds() const override { return bounds_; }
  const std::string& Name() const { return layout_.name; }
  const std::vector<std::string>& History() const { return history_; }

 private:
  ui::LabelLayout layout_;
  std::string caption_;
  ui::Bounds bounds_;
  std::vector<std::string> history_;
};

class RecordingButton : public ui::Button {
 public:
  RecordingButton(const ui::ButtonLayout& layout, std::function<void()> onClick,
                  RecordingApplication& app);
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return enabled_; }
  const std::string& Caption() const override { return layout_.caption; }
  const std::string& Name() const { return layout_.name; }
  // Presses the button as a user would: nothing happens while it is disabled.
  void Click();
  const std::vector<bool>& History() const { return history_; }

 private:
  ui::ButtonLayout layout_;
  std::function<void()> onClick_;
  RecordingApplication& app_;
  bool enabled_ = true;
  std::vector<bool> history_;
};

class RecordingProgressBar : public ui::ProgressBar {
 public:
  explicit RecordingProgressBar(const ui::ProgressBarLayout& layout);
  const std::string& Name() const { return name_; }
  void SetMax(int max) override;
  void SetPosition(int position) override;
  int Max() const override { return max_; }
  int Position() const override { return position_; }
  const std::vector<int>& MaxHistory() const { return maxHistory_; }
  const std::vector<int>& PositionHistory() const { return positionHistory_; }

 private:
  std::string name_;
  int max_;
  int position_;
  std::vector<int> maxHistory_;
  std::vector<int> positionHistory_;
};

class RecordingForm : public ui::Form {
 public:
  RecordingForm(const ui::FormLayout& layout, RecordingApplication& app)
      : layout_(layout), app_(app) {}
  ui::Label* AddLabel(const ui::LabelLayout& layout) override;
  ui::Button* AddButton(const ui::ButtonLayout& layout, std::function<void()> onClick) override;
  ui::ProgressBar* AddProgressBar(const ui::ProgressBarLayout& layout) override;
  void SetOnShow(std::function<void()> onShow) override { onShow_ = std::move(onShow); }

  const ui::FormLayout& Layout() const { return layout_; }
  RecordingLabel* FindLabel(const std::string& name) const;
  RecordingButton* FindButton(const std::string& name) const;
  RecordingProgressBar* FindProgressBar(const std::string& name) const;
  // Runs the show event, as the message loop does before the form becomes visible.
  void Show();
  bool Shown() const { return shown_; }

 private:
  ui::FormLayout layout_;
  RecordingApplication& app_;
  std::function<void()> onShow_;
  bool shown_ = false;
  std::vector<std::unique_ptr<RecordingLabel>> labels_;
  std::vector<std::unique_ptr<RecordingButton>> buttons_;
  std::vector<std::unique_ptr<RecordingProgressBar>> bars_;
};

class RecordingApplication : public ui::Application {
 public:
  ui::Form* CreateForm(const ui::FormLayout& layout) override;
  // Shows the main form and returns: a test drives the events itself.
  void Run() override;
  void ShowMessage(const std::string& text) override;
  void ProcessMessages() override;
  void WriteDiagnostic(const std::string& text) override { diagnostics_.push_back(text); }
  // Records the wait and processes messages once (pending input arrives at its start), then
  // sleeps; a wait in an application told to end raises the silent abort.
  void Wait(std::chrono::milliseconds duration) override;

  RecordingForm* MainForm() const { return forms_.empty() ? nullptr : forms_.front().get(); }
  const std::vector<std::string>& Messages() const { return messages_; }
  const std::vector<std::string>& Failures() const { return failures_; }
  const std::vector<std::string>& Diagnostics() const { return diagnostics_; }
  int ProcessMessagesCalls() const { return processCalls_; }
  const std::vector<std::chrono::milliseconds>& Waits() const { return waits_; }
  // Runs inside every ProcessMessages call, as waiting user input would (e.g. a close click).
  void SetPendingInput(std::function<void()> input) { pendingInput_ = std::move(input); }

 protected:
  void ShowErrorBox(const std::string& text) override { failures_.push_back(text); }

 private:
  std::vector<std::unique_ptr<RecordingForm>> forms_;
  std::vector<std::string> messages_;
  std::vector<std::string> failures_;
  std::vector<std::string> diagnostics_;
  int processCalls_ = 0;
  std::vector<std::chrono::milliseconds> waits_;
  std::function<void()> pendingInput_;
};

}  // namespace test
