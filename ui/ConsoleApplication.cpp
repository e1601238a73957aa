#include "ui/ConsoleApplication.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <thread>

#include "runtime/Exception.h"
#include "runtime/TerminationSignals.h"
#include "runtime/Text.h"

namespace ui {

namespace {

// Plain (non-terminal) progress is reported in steps of this many percent.
constexpr int kPlainStepPercent = 5;

std::string Clock(double seconds) {
  long s = std::lround(std::max(0.0, seconds));
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

class ConsoleLabel : public Label {
 public:
  ConsoleLabel(const LabelLayout& layout, ConsoleApplication& app)
      : layout_(layout), caption_(layout.caption), app_(app) {}
  void SetCaption(const std::string& text) override {
    caption_ = text;
    if (layout_.describesProgress)
      app_.ProgressTextChanged(text);
    else
      app_.LabelChanged(text);
  }
  const std::string& Caption() const override { return caption_; }
  Bounds GetBounds() const override {
    return AutoSizedBounds(layout_, EstimatedTextWidth(caption_));
  }

 private:
  LabelLayout layout_;
  std::string caption_;
  ConsoleApplication& app_;
};

class ConsoleButton : public Button {
 public:
  explicit ConsoleButton(const ButtonLayout& layout) : layout_(layout) {}
  void SetEnabled(bool enabled) override { enabled_ = enabled; }
  bool Enabled() const override { return enabled_; }
  const std::string& Caption() const override { return layout_.caption; }

 private:
  ButtonLayout layout_;
  bool enabled_ = true;
};

class ConsoleProgressBar : public ProgressBar {
 public:
  ConsoleProgressBar(const ProgressBarLayout& layout, ConsoleApplication& app)
      : max_(layout.max), position_(layout.position), app_(app) {}
  void SetMax(int max) override {
    max_ = max;
    app_.ProgressChanged(max_, -1);
  }
  void SetPosition(int position) override {
    position_ = position;
    app_.ProgressChanged(max_, position_);
  }
  int Max() const override { return max_; }
  int Position() const override { return position_; }

 private:
  int max_;
  int position_;
  ConsoleApplication& app_;
};

}  // namespace

class ConsoleForm : public Form {
 public:
  explicit ConsoleForm(ConsoleApplication& app) : app_(app) {}
  Label* AddLabel(const LabelLayout& layout) override {
    labels_.push_back(std::make_unique<ConsoleLabel>(layout, app_));
    return labels_.back().get();
  }
  Button* AddButton(const ButtonLayout& layout, std::function<void()>) override {
    buttons_.push_back(std::make_unique<ConsoleButton>(layout));
    return buttons_.back().get();
  }
  ProgressBar* AddProgressBar(const ProgressBarLayout& layout) override {
    bars_.push_back(std::make_unique<ConsoleProgressBar>(layout, app_));
    return bars_.back().get();
  }
  void SetOnShow(std::function<void()> onShow) override { onShow_ = std::move(onShow); }
  void Show() {
    if (onShow_) app_.HandleEvent(onShow_);
  }

 private:
  ConsoleApplication& app_;
  std::function<void()> onShow_;
  std::vector<std::unique_ptr<ConsoleLabel>> labels_;
  std::vector<std::unique_ptr<ConsoleButton>> buttons_;
  std::vector<std::unique_ptr<ConsoleProgressBar>> bars_;
};

ConsoleApplication::ConsoleApplication(std::FILE* out, std::FILE* err, bool errIsTerminal)
    : out_(out), err_(err), errIsTerminal_(errIsTerminal) {}

ConsoleApplication::~ConsoleApplication() {
  EndBarLine();
}

void ConsoleApplication::WatchSignals() {
  rt::WatchTerminationSignals();
}

Form* ConsoleApplication::CreateForm(const FormLayout&) {
  forms_.push_back(std::make_unique<ConsoleForm>(*this));
  return forms_.back().get();
}

void ConsoleApplication::Run() {
  if (!forms_.empty()) forms_.front()->Show();
}

void ConsoleApplication::InterruptOnSignal(bool on) {
  interruptible_ = on && rt::TerminationSignalCount() == 0;
}

void ConsoleApplication::ProcessMessages() {
  if (rt::TerminationSignalCount() == 0 || Terminated()) return;
  EndOnSignal(interruptible_);
  std::fprintf(err_, "Ending after the current run.\n");
  std::fflush(err_);
}

void ConsoleApplication::EndOnSignal(bool interrupt) {
  Terminate();
  EndBarLine();
  if (!interrupt) return;
  interruptingSignal_ = rt::FirstTerminationSignal();
  throw EAbort();
}

void ConsoleApplication::Wait(std::chrono::milliseconds duration) {
  DrawProgressText();
  const auto deadline = std::chrono::steady_clock::now() + duration;
  const int signals = rt::TerminationSignalDescriptor();
  for (;;) {
    if (rt::TerminationSignalCount() > 0) EndOnSignal(true);
    if (Terminated()) throw EAbort();
    // Rounded up: a wait never ends before its time, so whoever waits finds it spent.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    if (signals < 0) {
      std::this_thread::sleep_for(left);
      continue;
    }
    // The descriptor turns readable with the first signal and stays so.
    pollfd entry{signals, POLLIN, 0};
    if (::poll(&entry, 1, int(std::min<int64_t>(left.count(), std::numeric_limits<int>::max()))) <
            0 &&
        errno != EINTR)
      std::this_thread::sleep_for(left);
  }
}

void ConsoleApplication::DrawProgressText() {
  const std::string shown = rt::Win1252ToUtf8(progressText_);
  if (errIsTerminal_) {
    std::fprintf(err_, "\r%s\x1b[K", shown.c_str());
    barOnScreen_ = true;
  } else {
    EndBarLine();
    std::fprintf(err_, "%s\n", shown.c_str());
  }
  std::fflush(err_);
}

void ConsoleApplication::ShowMessage(const std::string& text) {
  messages_.push_back(text);
  WriteBox(text);
}

void ConsoleApplication::ShowErrorBox(const std::string& text) {
  WriteBox(text);
}

void ConsoleApplication::WriteBox(const std::string& text) {
  EndBarLine();
  std::string shown = rt::Win1252ToUtf8(rt::ReplaceAll(text, "\r\n", "\n"));
  std::fwrite(shown.data(), 1, shown.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void ConsoleApplication::WriteDiagnostic(const std::string& text) {
  EndBarLine();
  const std::string lines = DiagnosticLines(text);
  std::fwrite(lines.data(), 1, lines.size(), err_);
  std::fflush(err_);
}

void ConsoleApplication::ProgressTextChanged(const std::string& caption) {
  progressText_ = caption;
}

void ConsoleApplication::LabelChanged(const std::string& caption) {
  EndBarLine();
  std::string shown = rt::Win1252ToUtf8(caption);
  std::fprintf(err_, "%s\n", shown.c_str());
  std::fflush(err_);
}

void ConsoleApplication::ProgressChanged(int max, int position) {
  if (position < 0) {  // a new maximum starts a new run
    runStart_ = std::chrono::steady_clock::now();
    lastReportedStep_ = -1;
    return;
  }
  if (errIsTerminal_) {
    DrawBar(max, position);
    return;
  }
  int percent = max > 0 ? int(int64_t(std::clamp(position, 0, max)) * 100 / max) : 100;
  int step = percent / kPlainStepPercent;
  if (step == lastReportedStep_) return;
  lastReportedStep_ = step;
  std::string label = rt::Win1252ToUtf8(progressText_);
  std::fprintf(err_, "%s of %d (%d%%)\n", label.c_str(), max, percent);
  std::fflush(err_);
}

std::string FormatProgressLine(int position, int max, double elapsedSeconds, int barWidth) {
  int shownMax = std::max(max, 0);
  int done = std::clamp(position, 0, shownMax);
  int filled = shownMax > 0 ? int(int64_t(done) * barWidth / shownMax) : barWidth;
  std::string line = "[" + std::string(std::size_t(filled), '#') +
                     std::string(std::size_t(barWidth - filled), '-') + "] ";
  line += std::to_string(position) + "/" + std::to_string(max);
  double rate = elapsedSeconds > 0 ? position / elapsedSeconds : 0.0;
  char buf[64];
  std::snprintf(buf, sizeof buf, "  %.1f/s", rate);
  line += buf;
  if (rate > 0 && shownMax >= position)
    line += "  left " + Clock((shownMax - position) / rate);
  else
    line += "  left --:--";
  return line;
}

void ConsoleApplication::DrawBar(int max, int position) {
  double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart_).count();
  std::string line = FormatProgressLine(position, max, elapsed);
  std::fprintf(err_, "\r%s\x1b[K", line.c_str());
  std::fflush(err_);
  barOnScreen_ = true;
}

void ConsoleApplication::EndBarLine() {
  if (barOnScreen_) {
    std::fputc('\n', err_);
    std::fflush(err_);
    barOnScreen_ = false;
  }
}

}  // namespace ui
