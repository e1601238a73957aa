// A front-end without a screen that records everything the program does to its window, for
// tests: every label text, button state, progress maximum and position, message box text and
// failure text, and how often waiting messages were processed.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/Application.h"

namespace ui {

class RecordingApplication;

class RecordingLabel : public Label {
 public:
  explicit RecordingLabel(const LabelLayout& layout);
  void SetCaption(const std::string& text) override;
  const std::string& Caption() const override { return caption_; }
  Bounds GetBounds() const override { return bounds_; }
  const std::string& Name() const { return layout_.name; }
  const std::vector<std::string>& History() const { return history_; }

 private:
  LabelLayout layout_;
  std::string caption_;
  Bounds bounds_;
  std::vector<std::string> history_;
};

class RecordingButton : public Button {
 public:
  RecordingButton(const ButtonLayout& layout, std::function<void()> onClick,
                  RecordingApplication& app);
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return enabled_; }
  const std::string& Caption() const override { return layout_.caption; }
  const std::string& Name() const { return layout_.name; }
  // Presses the button as a user would: nothing happens while it is disabled.
  void Click();
  const std::vector<bool>& History() const { return history_; }

 private:
  ButtonLayout layout_;
  std::function<void()> onClick_;
  RecordingApplication& app_;
  bool enabled_ = true;
  std::vector<bool> history_;
};

class RecordingProgressBar : public ProgressBar {
 public:
  explicit RecordingProgressBar(const ProgressBarLayout& layout);
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

class RecordingForm : public Form {
 public:
  RecordingForm(const FormLayout& layout, RecordingApplication& app) : layout_(layout), app_(app) {}
  Label* AddLabel(const LabelLayout& layout) override;
  Button* AddButton(const ButtonLayout& layout, std::function<void()> onClick) override;
  ProgressBar* AddProgressBar(const ProgressBarLayout& layout) override;
  void SetOnShow(std::function<void()> onShow) override { onShow_ = std::move(onShow); }

  const FormLayout& Layout() const { return layout_; }
  RecordingLabel* FindLabel(const std::string& name) const;
  RecordingButton* FindButton(const std::string& name) const;
  RecordingProgressBar* FindProgressBar(const std::string& name) const;
  // Runs the show event, as the message loop does before the form becomes visible.
  void Show();
  bool Shown() const { return shown_; }

 private:
  FormLayout layout_;
  RecordingApplication& app_;
  std::function<void()> onShow_;
  bool shown_ = false;
  std::vector<std::unique_ptr<RecordingLabel>> labels_;
  std::vector<std::unique_ptr<RecordingButton>> buttons_;
  std::vector<std::unique_ptr<RecordingProgressBar>> bars_;
};

class RecordingApplication : public Application {
 public:
  Form* CreateForm(const FormLayout& layout) override;
  // Shows the main form and returns: a test drives the events itself.
  void Run() override;
  void ShowMessage(const std::string& text) override;
  void ProcessMessages() override;

  RecordingForm* MainForm() const { return forms_.empty() ? nullptr : forms_.front().get(); }
  const std::vector<std::string>& Messages() const { return messages_; }
  const std::vector<std::string>& Failures() const { return failures_; }
  int ProcessMessagesCalls() const { return processCalls_; }
  // Runs inside every ProcessMessages call, as waiting user input would (e.g. a close click).
  void SetPendingInput(std::function<void()> input) { pendingInput_ = std::move(input); }

 protected:
  void ShowErrorBox(const std::string& text) override { failures_.push_back(text); }

 private:
  std::vector<std::unique_ptr<RecordingForm>> forms_;
  std::vector<std::string> messages_;
  std::vector<std::string> failures_;
  int processCalls_ = 0;
  std::function<void()> pendingInput_;
};

}  // namespace ui
