#include "ui/fltk/FltkApplication.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Progress.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <chrono>

#include "runtime/Exception.h"
#include "runtime/TerminationSignals.h"
#include "runtime/Text.h"

namespace ui {

namespace {

// The form's font: a sans-serif face, 11 pixels high (8 points at 96 dpi).
constexpr Fl_Font kFont = FL_HELVETICA;
constexpr int kFontSize = 11;
// Message boxes: margins, button size, and the widest line before text wraps.
constexpr int kBoxMargin = 12;
constexpr int kBoxButtonWidth = 75;
constexpr int kBoxButtonHeight = 23;
constexpr int kBoxIconSize = 32;
constexpr int kBoxMaxTextWidth = 480;
constexpr int kBoxMinWidth = 220;
// The class of every window (WM_CLASS "lirenta", "Lirenta"), by which task bars group and
// name them.
constexpr const char* kWindowClass = "lirenta";

// The free space a label keeps from the next control on its row, when its text has to be cut.
constexpr int kLabelGap = 8;
// What stands for the part of a text that was cut: the horizontal ellipsis.
constexpr const char* kEllipsis = "\xE2\x80\xA6";

int MeasureWidth(const std::string& utf8) {
  fl_font(kFont, kFontSize);
  int w = 0, h = 0;
  fl_measure(utf8.c_str(), w, h, 0);
  return w;
}

// The widest a label on `parent` with `layout` may grow without running into another control
// of its row or out of the window: to the right of its left edge, or to the left of its right
// edge.
int RoomOnItsRow(const Fl_Group& parent, const Fl_Widget& self, const LabelLayout& layout) {
  const Bounds& b = layout.bounds;
  const bool right = layout.alignment == Alignment::Right;
  int room = right ? b.right() : parent.w() - b.left;
  for (int i = 0; i < parent.children(); ++i) {
    const Fl_Widget* other = parent.child(i);
    if (other == &self || other->y() >= b.top + b.height || other->y() + other->h() <= b.top)
      continue;
    if (!right && other->x() >= b.left)
      room = std::min(room, other->x() - b.left - kLabelGap);
    else if (right && other->x() + other->w() <= b.right())
      room = std::min(room, b.right() - (other->x() + other->w()) - kLabelGap);
  }
  return std::max(room, 0);
}

// Takes the last character off a UTF-8 text.
void DropLastCharacter(std::string& utf8) {
  while (!utf8.empty()) {
    const auto byte = static_cast<unsigned char>(utf8.back());
    utf8.pop_back();
    if ((byte & 0xC0) != 0x80) return;  // a character's first byte
  }
}

// `utf8` cut at a character boundary and ended with an ellipsis, so that it measures no more
// than `room`.
std::string Elided(std::string utf8, int room) {
  do DropLastCharacter(utf8);
  while (!utf8.empty() && MeasureWidth(utf8 + kEllipsis) > room);
  while (!utf8.empty() && utf8.back() == ' ') utf8.pop_back();
  return utf8 + kEllipsis;
}

// Text drawn as it is: FLTK's labels read "@" as the start of a symbol and "&" as a shortcut
// mark, and keep 3 pixels off each side; this draws none of that. A single line with a side
// alignment puts the edge of its ink on that edge of the widget; with FL_ALIGN_WRAP the text
// is broken into lines that fit the width.
class PlainText : public Fl_Widget {
 public:
  PlainText(int x, int y, int w, int h, Fl_Align alignment) : Fl_Widget(x, y, w, h) {
    align(alignment);
  }
  void Text(std::string utf8) {
    text_ = std::move(utf8);
    redraw();
  }

 protected:
  void draw() override {
    fl_font(kFont, kFontSize);
    fl_color(active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
    if (align() & FL_ALIGN_WRAP) {
      fl_draw(text_.c_str(), x(), y(), w(), h(), align() | FL_ALIGN_INSIDE, nullptr, 0);
      return;
    }
    int dx = 0, dy = 0, inkWidth = 0, inkHeight = 0;
    fl_text_extents(text_.c_str(), dx, dy, inkWidth, inkHeight);
    const int originX = (align() & FL_ALIGN_RIGHT) ? x() + w() - dx - inkWidth : x() - dx;
    fl_draw(text_.c_str(), originX, y() + fl_height() - fl_descent());
  }

 private:
  std::string text_;
};

// A label of the form, in UTF-8 for FLTK.
class FltkLabel : public Label {
 public:
  explicit FltkLabel(const LabelLayout& layout) : layout_(layout) {
    text_ = new PlainText(layout.bounds.left, layout.bounds.top, layout.bounds.width,
                          layout.bounds.height,
                          layout.alignment == Alignment::Right ? FL_ALIGN_RIGHT : FL_ALIGN_LEFT);
    SetCaption(layout.caption);
  }
  // A text wider than the room on the label's row is cut with an ellipsis; the whole text is
  // then the label's tooltip.
  void SetCaption(const std::string& text) override {
    caption_ = text;
    std::string utf8 = rt::Win1252ToUtf8(text);
    int width = MeasureWidth(utf8);
    const int room =
        text_->parent() != nullptr ? RoomOnItsRow(*text_->parent(), *text_, layout_) : width;
    if (width > room) {
      text_->copy_tooltip(utf8.c_str());
      utf8 = Elided(std::move(utf8), room);
      width = MeasureWidth(utf8);
    } else {
      text_->copy_tooltip(nullptr);
    }
    Bounds b = AutoSizedBounds(layout_, width);
    text_->Text(std::move(utf8));
    // The label may have shrunk: what it covered before is drawn again.
    if (text_->window()) text_->window()->damage(FL_DAMAGE_ALL);
    text_->resize(b.left, b.top, b.width, b.height);
  }
  const std::string& Caption() const override { return caption_; }
  Bounds GetBounds() const override { return {text_->x(), text_->y(), text_->w(), text_->h()}; }

 private:
  LabelLayout layout_;
  PlainText* text_;
  std::string caption_;
};

// A push button that Enter and keypad Enter press while it has the focus, as Space does.
class PushButton : public Fl_Button {
 public:
  using Fl_Button::Fl_Button;
  int handle(int event) override {
    if (event == FL_KEYBOARD && Fl::focus() == this &&
        (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
      if (active_r()) do_callback();
      return 1;
    }
    return Fl_Button::handle(event);
  }
};

class FltkButton : public Button {
 public:
  FltkButton(const ButtonLayout& layout, std::function<void()> onClick, Application& app)
      : layout_(layout),
        utf8_(rt::Win1252ToUtf8(layout.caption)),
        onClick_(std::move(onClick)),
        app_(app) {
    button_ = new PushButton(layout.bounds.left, layout.bounds.top, layout.bounds.width,
                             layout.bounds.height, utf8_.c_str());
    button_->labelfont(kFont);
    button_->labelsize(kFontSize);
    button_->callback(&FltkButton::Clicked, this);
  }
  void SetEnabled(bool enabled) override {
    if (enabled)
      button_->activate();
    else
      button_->deactivate();
  }
  bool Enabled() const override { return button_->active() != 0; }
  const std::string& Caption() const override { return layout_.caption; }
  Fl_Button* Widget() const { return button_; }

 private:
  static void Clicked(Fl_Widget*, void* self) {
    auto* b = static_cast<FltkButton*>(self);
    if (b->onClick_) b->app_.HandleEvent(b->onClick_);
  }
  ButtonLayout layout_;
  std::string utf8_;
  std::function<void()> onClick_;
  Application& app_;
  Fl_Button* button_;
};

// FLTK's bar divides by (maximum - minimum); an empty range is drawn as an empty bar.
class FltkProgressBar : public ProgressBar {
 public:
  explicit FltkProgressBar(const ProgressBarLayout& layout)
      : max_(layout.max), position_(layout.position) {
    bar_ = new Fl_Progress(layout.bounds.left, layout.bounds.top, layout.bounds.width,
                           layout.bounds.height);
    bar_->minimum(float(layout.min));
    bar_->selection_color(FL_DARK_BLUE);
    Update();
  }
  void SetMax(int max) override {
    max_ = max;
    Update();
  }
  void SetPosition(int position) override {
    position_ = position;
    Update();
  }
  int Max() const override { return max_; }
  int Position() const override { return position_; }

 private:
  void Update() {
    if (max_ <= 0) {
      bar_->maximum(1.0f);
      bar_->value(0.0f);
    } else {
      bar_->maximum(float(max_));
      bar_->value(float(std::clamp(position_, 0, max_)));
    }
  }
  int max_;
  int position_;
  Fl_Progress* bar_;
};

}  // namespace

class FltkForm : public Form {
 public:
  FltkForm(const FormLayout& layout, FltkApplication& app) : app_(app) {
    caption_ = rt::Win1252ToUtf8(layout.caption);
    window_ = std::make_unique<Fl_Double_Window>(layout.clientWidth, layout.clientHeight,
                                                 caption_.c_str());
    // Fixed size: the window manager offers no maximise box and no resizing.
    window_->size_range(layout.clientWidth, layout.clientHeight, layout.clientWidth,
                        layout.clientHeight);
    window_->callback(&FltkForm::CloseRequested, this);
    window_->end();
  }
  Label* AddLabel(const LabelLayout& layout) override {
    window_->begin();
    labels_.push_back(std::make_unique<FltkLabel>(layout));
    window_->end();
    return labels_.back().get();
  }
  Button* AddButton(const ButtonLayout& layout, std::function<void()> onClick) override {
    window_->begin();
    buttons_.push_back(std::make_unique<FltkButton>(layout, std::move(onClick), app_));
    window_->end();
    return buttons_.back().get();
  }
  ProgressBar* AddProgressBar(const ProgressBarLayout& layout) override {
    window_->begin();
    bars_.push_back(std::make_unique<FltkProgressBar>(layout));
    window_->end();
    return bars_.back().get();
  }
  void SetOnShow(std::function<void()> onShow) override { onShow_ = std::move(onShow); }

  void Show() {
    if (onShow_) app_.HandleEvent(onShow_);
    window_->position((Fl::w() - window_->w()) / 2, (Fl::h() - window_->h()) / 2);
    window_->show();
    if (!buttons_.empty()) buttons_.front()->Widget()->take_focus();
  }
  Fl_Double_Window* Window() const { return window_.get(); }

 private:
  // Closing is never refused; during a run the window stays until the run has finished.
  static void CloseRequested(Fl_Widget*, void* self) {
    // FLTK hands Escape to a window's callback as well; Escape does not close a main window.
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    static_cast<FltkForm*>(self)->app_.Terminate();
  }
  FltkApplication& app_;
  std::string caption_;
  std::unique_ptr<Fl_Double_Window> window_;
  std::function<void()> onShow_;
  std::vector<std::unique_ptr<FltkLabel>> labels_;
  std::vector<std::unique_ptr<FltkButton>> buttons_;
  std::vector<std::unique_ptr<FltkProgressBar>> bars_;
};

FltkApplication::FltkApplication() {
  Fl::scheme("gtk+");
  Fl::visible_focus(1);
  Fl_Window::default_xclass(kWindowClass);
  // A request to end the process (SIGTERM, SIGINT) is a close of the main window.
  if (rt::TerminationSignalDescriptor() >= 0)
    Fl::add_fd(rt::TerminationSignalDescriptor(), FL_READ, &FltkApplication::EndRequested, this);
}

void FltkApplication::EndRequested(int descriptor, void* self) {
  // The descriptor stays readable: one call is all it gets.
  Fl::remove_fd(descriptor);
  static_cast<FltkApplication*>(self)->Terminate();
}

FltkApplication::~FltkApplication() {
  if (rt::TerminationSignalDescriptor() >= 0) Fl::remove_fd(rt::TerminationSignalDescriptor());
  // Widgets belong to their windows; the control wrappers only point at them.
  forms_.clear();
}

Form* FltkApplication::CreateForm(const FormLayout& layout) {
  forms_.push_back(std::make_unique<FltkForm>(layout, *this));
  return forms_.back().get();
}

void FltkApplication::Run() {
  if (forms_.empty()) return;
  forms_.front()->Show();
  while (!Terminated() && Fl::first_window() != nullptr) Fl::wait();
  forms_.front()->Window()->hide();
  Fl::flush();
}

void FltkApplication::ProcessMessages() {
  Fl::check();
}

void FltkApplication::Wait(std::chrono::milliseconds duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  for (;;) {
    if (Terminated()) throw EAbort();
    const std::chrono::duration<double> left = deadline - std::chrono::steady_clock::now();
    if (left.count() <= 0) return;
    Fl::wait(left.count());
  }
}

void FltkApplication::ShowMessage(const std::string& text) {
  ShowBox(text, false);
}

void FltkApplication::ShowErrorBox(const std::string& text) {
  ShowBox(text, true);
}

void FltkApplication::ShowBox(const std::string& text, bool errorIcon) {
  // A box shown after the application was told to end closes by itself at once.
  if (Terminated()) return;
  std::string title = rt::Win1252ToUtf8(Title());
  std::string message = rt::Win1252ToUtf8(rt::ReplaceAll(text, "\r\n", "\n"));

  fl_font(kFont, kFontSize);
  int tw = kBoxMaxTextWidth, th = 0;
  fl_measure(message.c_str(), tw, th, 0);
  int iconSpace = errorIcon ? kBoxIconSize + kBoxMargin : 0;
  int w = std::max(kBoxMargin * 2 + iconSpace + tw, kBoxMinWidth);
  int h = kBoxMargin * 3 + std::max(th, errorIcon ? kBoxIconSize : 0) + kBoxButtonHeight;

  Fl_Double_Window box(w, h, title.c_str());
  box.set_modal();
  if (errorIcon) {
    auto* icon = new Fl_Box(kBoxMargin, kBoxMargin, kBoxIconSize, kBoxIconSize, "X");
    icon->box(FL_OVAL_BOX);
    icon->color(FL_RED);
    icon->labelcolor(FL_WHITE);
    icon->labelfont(FL_HELVETICA_BOLD);
    icon->labelsize(18);
  }
  int textTop = kBoxMargin + (errorIcon ? std::max(0, (kBoxIconSize - th) / 2) : 0);
  auto* textBox = new PlainText(kBoxMargin + iconSpace, textTop, tw, th,
                                FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_WRAP);
  textBox->Text(message);
  auto* ok = new PushButton((w - kBoxButtonWidth) / 2, h - kBoxMargin - kBoxButtonHeight,
                            kBoxButtonWidth, kBoxButtonHeight, "OK");
  ok->labelfont(kFont);
  ok->labelsize(kFontSize);
  bool done = false;
  ok->callback([](Fl_Widget*, void* flag) { *static_cast<bool*>(flag) = true; }, &done);
  box.callback([](Fl_Widget*, void* flag) { *static_cast<bool*>(flag) = true; }, &done);
  box.end();
  box.position((Fl::w() - w) / 2, (Fl::h() - h) / 2);
  box.show();
  ok->take_focus();
  // A box that is up when the application is told to end closes by itself as well.
  while (!done && box.shown() && !Terminated()) Fl::wait();
  box.hide();
}

}  // namespace ui
